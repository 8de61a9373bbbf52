#pragma once

// What the page tests share: readable texts in failure messages and the commands of the mailbox
// operations they expect.

#include "link/RegisterBus.h"
#include "ui/Boxes.h"

#include <QString>
#include <QTest>

#include <cstdint>

#include <ostream>
#include <string>
#include <vector>

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace tessor::test {

using Commands = std::vector<std::string>;

// The remote modem's 8C00 ORed with value through the mailbox, after the link test.
inline Commands RemoteOr8C00(const std::string& value) {
    return {"RD 8C71", "RD 8C00", "RD 8CC0", "WR 8CD0 " + value, "WR 8CC2 8C", "WR 8CC1 00", "WR 8CC0 13"};
}

// A register read's result from a raw value: negative for one that got no answer.
inline RegResult Raw(std::int64_t v) {
    return v < 0 ? RegResult::Fail(Outcome::NoAnswer) : RegResult::Answer(v);
}

// The help pages a page of type Page opens when F1 is pressed on it.
template <class Page> std::vector<QString> HelpOpenedByF1() {
    std::vector<QString> opened;
    ui::SetHelpHookForTesting([&](const QString& path) { opened.push_back(path); });
    Page page;
    page.show();
    QTest::keyClick(&page, Qt::Key_F1);
    ui::SetHelpHookForTesting(nullptr);
    return opened;
}

} // namespace tessor::test
