#pragma once

namespace tessor::ui {

// The wait cursor over every window of the tool while the UI thread waits for the board. Put one at the
// top of a UI-thread handler that issues blocking register operations; the cursor returns when the
// handler is left by any path. Nests; does nothing on other threads or without an application object.
class CBusyCursor {
public:
    CBusyCursor();
    ~CBusyCursor();
    CBusyCursor(const CBusyCursor&) = delete;
    CBusyCursor& operator=(const CBusyCursor&) = delete;

private:
    bool m_set = false;
};

// The normal cursor while a box or file dialog waits for the user inside a busy handler; the busy cursor
// comes back when the box is gone. Does nothing when no busy cursor is up.
class CNormalCursor {
public:
    CNormalCursor();
    ~CNormalCursor();
    CNormalCursor(const CNormalCursor&) = delete;
    CNormalCursor& operator=(const CNormalCursor&) = delete;

private:
    bool m_set = false;
};

} // namespace tessor::ui
