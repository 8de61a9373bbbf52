#pragma once

// The fleet's inventory: boards behind console servers, in the YAML inventory format that automation
// runners read. `all:` holds nested `children:` groups (sites, cabinets), `hosts:` (one board each) and
// `vars:`, inherited downwards. Only the tessor_ variables are read; the others are left to other tools.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tessor::fleet {

enum class BoardSide { Lt, Nt };

// "lt" or "nt".
const char* BoardSideName(BoardSide side);

struct Board {
    std::string name;
    std::string site; // tessor_site, else the innermost group the board is listed in
    std::string port; // a device path or an rfc2217:// / socket:// URL
    std::optional<BoardSide> side;
    std::optional<std::string> config; // the intended configuration file, relative to the inventory resolved
    std::optional<std::string> criteria; // a line test criteria file, resolved the same way
    std::optional<double> snrBaselineDb;
    std::optional<std::string> consoleListen; // ADDR:PORT
    std::set<std::string> groups;             // every group it belongs to, through nesting, "all" included
    int line = 0;                             // where the board is first listed (1-based)
};

struct Inventory {
    std::string file;
    std::vector<Board> boards; // in the order the file lists them
    std::set<std::string> groups;
};

// What is wrong with an inventory: the file, the line (1-based; none when the file as a whole is at fault)
// and the reason.
struct InventoryError {
    std::string file;
    std::optional<int> line;
    std::string reason;
};

// "FILE:LINE: reason" (or "FILE: reason").
std::string InventoryErrorText(const InventoryError& error);

// Reads the inventory in text, as the file path holds it (for messages and relative paths); false with
// *error when it is no such inventory or a board's variables are unusable.
bool ParseInventory(const std::string& text, const std::string& path, Inventory* inventory,
                    InventoryError* error);
// Reads the file at path.
bool ReadInventory(const std::string& path, Inventory* inventory, InventoryError* error);

// The boards a --limit pattern selects, in the inventory's order: names of groups or boards, globs
// (*, ?, [...]), separated by ',' or ':'; "!x" leaves x out, "&x" keeps only what is also in x. False with
// *error when the pattern is malformed, a part of it matches nothing, or it selects no board.
bool SelectBoards(const Inventory& inventory, const std::string& pattern, std::vector<Board>* selected,
                  std::string* error);

} // namespace tessor::fleet
