#include "fleet/Inventory.h"

#include "files/PlainFile.h"
#include "link/NetworkPortName.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fnmatch.h>
#include <functional>
#include <regex>

namespace tessor::fleet {

const char* BoardSideName(BoardSide side) {
    return side == BoardSide::Lt ? "lt" : "nt";
}

std::string InventoryErrorText(const InventoryError& error) {
    return error.file + (error.line ? ":" + std::to_string(*error.line) : std::string()) + ": " +
           error.reason;
}

namespace {

const char* const kAll = "all";
const char* const kUngrouped = "ungrouped";
// A group's rank among groups of the same depth, as the automation runners let an inventory set it.
const char* const kGroupPriority = "ansible_group_priority";

const std::set<std::string> kTessorVariables{"tessor_port",          "tessor_side", "tessor_config",
                                             "tessor_criteria",      "tessor_site", "tessor_snr_baseline_db",
                                             "tessor_console_listen"};

// Thrown within this file only: where the parse stops and why.
struct ParseFailure {
    YAML::Mark mark;
    std::string reason;
};

[[noreturn]] void Fail(const YAML::Node& at, const std::string& reason) {
    throw ParseFailure{at.Mark(), reason};
}

// A variable as written: its value's node (for its line) under its name.
using Variables = std::map<std::string, YAML::Node>;

// Sets a variable. Assigning one node to another would rewrite the node assigned to (nodes are handles), so
// the old one is dropped and the new handle stored.
void SetVariable(Variables* vars, const std::string& name, const YAML::Node& value) {
    vars->erase(name);
    vars->emplace(name, value);
}

struct GroupDef {
    Variables vars;
    std::vector<std::string> children; // each once
    int priority = 1;
    int depth = 0;
    YAML::Node where; // its first mention
};

struct HostDef {
    Variables vars;
    std::vector<std::string> groups; // listed directly in, each once
    YAML::Node where;
};

void AddOnce(std::vector<std::string>* list, const std::string& name) {
    if (std::find(list->begin(), list->end(), name) == list->end())
        list->push_back(name);
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A scalar tessor_ value as text.
std::string ScalarText(const std::string& name, const YAML::Node& value) {
    if (!value.IsScalar() || value.Scalar().empty())
        Fail(value, name + " needs a single value");
    return value.Scalar();
}

// ADDR:PORT, an IPv6 address in brackets.
bool ListenAddressValid(const std::string& text) {
    std::string host, port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return false;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string::npos || text.find(':') != colon)
            return false;
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    if (host.empty() || port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long n = std::stol(port);
    return n >= 1 && n <= 65535;
}

// Checks a tessor_ variable where it is written, so that a bad value is reported at its own line even when a
// nearer one overrides it.
void CheckVariable(const YAML::Node& key, const std::string& name, const YAML::Node& value) {
    if (kTessorVariables.count(name) == 0)
        Fail(key, "unknown variable " + name + " (the tool reads " +
                      "tessor_port, tessor_side, tessor_config, tessor_criteria, tessor_site, "
                      "tessor_snr_baseline_db and tessor_console_listen)");
    const std::string text = ScalarText(name, value);
    if (name == "tessor_port") {
        const NetworkPortParse parse = ParseNetworkPortName(text);
        if (parse.kind == NetworkPortParse::Malformed)
            Fail(value, "tessor_port " + text + ": " + parse.problem);
        if (parse.kind == NetworkPortParse::NotNetwork && text.front() != '/')
            Fail(value, "tessor_port " + text +
                            ": a port is a device path such as /dev/ttyUSB0, or rfc2217://HOST:PORT or "
                            "socket://HOST:PORT");
    } else if (name == "tessor_side") {
        if (Lower(text) != "lt" && Lower(text) != "nt")
            Fail(value, "tessor_side " + text + ": a side is lt or nt");
    } else if (name == "tessor_snr_baseline_db") {
        double db = 0;
        if (!YAML::convert<double>::decode(value, db) || !std::isfinite(db))
            Fail(value, "tessor_snr_baseline_db " + text + ": a baseline is a number of dB, such as 42.5");
    } else if (name == "tessor_console_listen") {
        if (!ListenAddressValid(text))
            Fail(value,
                 "tessor_console_listen " + text + ": an address is ADDR:PORT, such as 127.0.0.1:7001");
    }
}

// The variables of a vars: mapping, merged into *vars (a later one over an earlier one).
void ReadVariables(const YAML::Node& node, const std::string& owner, Variables* vars) {
    if (node.IsNull())
        return;
    if (!node.IsMap())
        Fail(node, "the vars of " + owner + " are not a mapping of names to values");
    std::set<std::string> seen;
    for (const auto& entry : node) {
        if (!entry.first.IsScalar())
            Fail(entry.first, "a variable's name of " + owner + " is not a name");
        const std::string name = entry.first.Scalar();
        if (!seen.insert(name).second)
            Fail(entry.first, "variable " + name + " is given twice for " + owner);
        if (name.rfind("tessor_", 0) == 0)
            CheckVariable(entry.first, name, entry.second);
        SetVariable(vars, name, entry.second);
    }
}

class Reader {
public:
    void ReadRoot(const YAML::Node& root) {
        if (root.IsNull())
            Fail(root, "the file is empty: an inventory starts with all: and lists its boards under hosts:");
        if (!root.IsMap())
            Fail(root, "not an inventory: it starts with all: and lists groups (children:), boards (hosts:) "
                       "and variables (vars:)");
        Group(kAll, root);
        for (const auto& entry : root) {
            if (!entry.first.IsScalar() || entry.first.Scalar().empty())
                Fail(entry.first, "a group's name is not a name");
            const std::string name = entry.first.Scalar();
            if (!m_seenTop.insert(name).second)
                Fail(entry.first, "group " + name + " is given twice at the top of the file");
            // Groups at the top other than all belong to all, as the runners read them.
            if (name != kAll)
                AddOnce(&m_groups[kAll].children, name);
            ReadGroup(name, entry.first, entry.second);
        }
    }

    // Depths, memberships and each board's variables merged; the inventory in *out.
    void Finish(const std::string& path, Inventory* out) {
        std::vector<std::string> trail;
        SetDepth(kAll, 0, &trail);
        if (m_hostOrder.empty())
            Fail(m_groups[kAll].where, "the inventory lists no board (a board is a host under hosts:)");
        for (const std::string& name : m_hostOrder) {
            HostDef& host = m_hosts[name];
            if (host.groups.empty() || (host.groups.size() == 1 && host.groups[0] == kAll)) {
                // A board in no group but all is in ungrouped, as the runners place it.
                host.groups = {kUngrouped};
                Group(kUngrouped, host.where);
                AddOnce(&m_groups[kAll].children, kUngrouped);
            } else {
                host.groups.erase(std::remove(host.groups.begin(), host.groups.end(), std::string(kAll)),
                                  host.groups.end());
            }
        }
        for (const auto& [name, group] : m_groups) {
            if (m_hosts.count(name))
                Fail(m_hosts[name].where,
                     name + " names both a group and a board; give them different names");
        }
        SetDepth(kAll, 0, &trail); // again, with ungrouped in place

        out->file = path;
        out->boards.clear();
        out->groups.clear();
        for (const auto& entry : m_groups)
            out->groups.insert(entry.first);
        const std::filesystem::path folder = std::filesystem::path(path).parent_path();
        std::map<std::string, std::string> portOwner;
        for (const std::string& name : m_hostOrder)
            out->boards.push_back(MakeBoard(name, folder, &portOwner));
    }

private:
    GroupDef& Group(const std::string& name, const YAML::Node& where) {
        auto it = m_groups.find(name);
        if (it == m_groups.end()) {
            it = m_groups.emplace(name, GroupDef{}).first;
            it->second.where = where;
        }
        return it->second;
    }

    void ReadGroup(const std::string& name, const YAML::Node& key, const YAML::Node& node) {
        GroupDef& group = Group(name, key);
        if (node.IsNull())
            return;
        if (!node.IsMap())
            Fail(node, "group " + name + " is not a mapping (a group holds hosts:, children: and vars:)");
        std::set<std::string> seen;
        for (const auto& entry : node) {
            const std::string section = entry.first.IsScalar() ? entry.first.Scalar() : std::string();
            if (section != "hosts" && section != "children" && section != "vars")
                Fail(entry.first, "group " + name + " holds " +
                                      (section.empty() ? "a key that is not a name" : section) +
                                      ": a group holds hosts:, children: and vars: only");
            if (!seen.insert(section).second)
                Fail(entry.first, "group " + name + " has " + section + ": twice");
            if (section == "vars") {
                ReadVariables(entry.second, "group " + name, &group.vars);
                if (const auto it = group.vars.find(kGroupPriority); it != group.vars.end()) {
                    int priority = 0;
                    if (!YAML::convert<int>::decode(it->second, priority))
                        Fail(it->second,
                             std::string(kGroupPriority) + " of group " + name + " is not a whole number");
                    group.priority = priority;
                }
            } else if (section == "hosts") {
                for (const HostEntry& host : HostEntries(entry.second, name))
                    ReadHost(host.name, host.key, host.value, name);
            } else {
                std::set<std::string> childSeen;
                if (!entry.second.IsNull() && !entry.second.IsMap())
                    Fail(entry.second, "the children of group " + name + " are not a mapping of group names");
                for (const auto& child : entry.second) {
                    if (!child.first.IsScalar() || child.first.Scalar().empty())
                        Fail(child.first, "a name among the children of group " + name + " is not a name");
                    const std::string childName = child.first.Scalar();
                    if (!childSeen.insert(childName).second)
                        Fail(child.first, childName + " is listed twice among the children of group " + name);
                    if (childName == kAll)
                        Fail(child.first,
                             "all is the whole inventory and cannot be a child of group " + name);
                    AddOnce(&m_groups[name].children, childName);
                    ReadGroup(childName, child.first, child.second);
                }
            }
        }
    }

    // A board under a hosts: mapping: its name, its key (for its line) and its variables.
    struct HostEntry {
        std::string name;
        YAML::Node key;
        YAML::Node value;
    };

    std::vector<HostEntry> HostEntries(const YAML::Node& node, const std::string& group) {
        std::vector<HostEntry> entries;
        if (node.IsNull())
            return entries;
        if (!node.IsMap())
            Fail(node, "the hosts of group " + group + " are not a mapping of board names");
        std::set<std::string> seen;
        for (const auto& entry : node) {
            if (!entry.first.IsScalar() || entry.first.Scalar().empty())
                Fail(entry.first, "a name among the hosts of group " + group + " is not a name");
            const std::string name = entry.first.Scalar();
            if (!seen.insert(name).second)
                Fail(entry.first, name + " is listed twice among the hosts of group " + group);
            entries.push_back(HostEntry{name, entry.first, entry.second});
        }
        return entries;
    }

    void ReadHost(const std::string& name, const YAML::Node& key, const YAML::Node& node,
                  const std::string& group) {
        static const std::regex range(R"(.*\[[^\]]*:[^\]]*\].*)");
        if (std::regex_match(name, range))
            Fail(key, "board " + name + ": host ranges are not read; list each board by its name");
        auto it = m_hosts.find(name);
        if (it == m_hosts.end()) {
            it = m_hosts.emplace(name, HostDef{}).first;
            it->second.where = key;
            m_hostOrder.push_back(name);
        }
        // A board listed in several groups is one board: its variables merge, the later over the earlier.
        AddOnce(&it->second.groups, group);
        ReadVariables(node, "board " + name, &it->second.vars);
    }

    // Each group's depth is its longest distance from all (as the runners order groups); a group that is its
    // own ancestor is refused.
    void SetDepth(const std::string& name, int depth, std::vector<std::string>* path) {
        if (std::find(path->begin(), path->end(), name) != path->end())
            Fail(m_groups[name].where, "group " + name + " is among its own children");
        GroupDef& group = m_groups[name];
        if (depth < group.depth)
            return;
        group.depth = depth;
        path->push_back(name);
        for (const std::string& child : group.children)
            SetDepth(child, depth + 1, path);
        path->pop_back();
    }

    // Every group name is in, through nesting.
    void Ancestors(const std::string& group, std::set<std::string>* out) {
        if (!out->insert(group).second)
            return;
        for (const auto& [name, def] : m_groups) {
            if (std::find(def.children.begin(), def.children.end(), group) != def.children.end())
                Ancestors(name, out);
        }
    }

    // The groups in the order their variables apply: shallower first, then by priority, then by name; the
    // later wins.
    std::vector<std::string> ApplyOrder(const std::set<std::string>& groups) {
        std::vector<std::string> order(groups.begin(), groups.end());
        std::stable_sort(order.begin(), order.end(), [this](const std::string& a, const std::string& b) {
            const GroupDef& ga = m_groups[a];
            const GroupDef& gb = m_groups[b];
            if (ga.depth != gb.depth)
                return ga.depth < gb.depth;
            if (ga.priority != gb.priority)
                return ga.priority < gb.priority;
            return a < b;
        });
        return order;
    }

    Board MakeBoard(const std::string& name, const std::filesystem::path& folder,
                    std::map<std::string, std::string>* portOwner) {
        const HostDef& host = m_hosts[name];
        Board board;
        board.name = name;
        board.line = host.where.Mark().line + 1;
        for (const std::string& group : host.groups)
            Ancestors(group, &board.groups);
        Variables vars;
        for (const std::string& group : ApplyOrder(board.groups)) {
            for (const auto& [var, value] : m_groups[group].vars)
                SetVariable(&vars, var, value);
        }
        for (const auto& [var, value] : host.vars)
            SetVariable(&vars, var, value);

        const auto text = [&vars](const char* var) -> std::optional<std::string> {
            const auto it = vars.find(var);
            if (it == vars.end())
                return std::nullopt;
            return it->second.Scalar();
        };
        const auto file = [&text, &folder](const char* var) -> std::optional<std::string> {
            std::optional<std::string> value = text(var);
            if (value && std::filesystem::path(*value).is_relative())
                value = (folder / *value).lexically_normal().string();
            return value;
        };
        const std::optional<std::string> port = text("tessor_port");
        if (!port)
            Fail(host.where,
                 "board " + name + " has no tessor_port (the device or console server port it is on)");
        board.port = *port;
        const std::string portKey = PortKey(*port);
        if (const auto [it, added] = portOwner->emplace(portKey, name); !added)
            Fail(vars["tessor_port"], "boards " + it->second + " and " + name + " are both on " + *port +
                                          "; each board has its own port");
        if (const auto side = text("tessor_side"))
            board.side = Lower(*side) == "lt" ? BoardSide::Lt : BoardSide::Nt;
        board.config = file("tessor_config");
        board.criteria = file("tessor_criteria");
        if (vars.count("tessor_snr_baseline_db"))
            board.snrBaselineDb = vars["tessor_snr_baseline_db"].as<double>();
        board.consoleListen = text("tessor_console_listen");
        const std::optional<std::string> site = text("tessor_site");
        board.site = site ? *site : ApplyOrder({host.groups.begin(), host.groups.end()}).back();
        return board;
    }

    // One key per console port: a network port by its server and port number (whatever the protocol), a
    // device by its path.
    static std::string PortKey(const std::string& port) {
        const NetworkPortParse parse = ParseNetworkPortName(port);
        if (parse.kind == NetworkPortParse::Valid)
            return "net:" + Lower(parse.name.host) + ":" + std::to_string(parse.name.port);
        return "dev:" + std::filesystem::path(port).lexically_normal().string();
    }

    std::map<std::string, GroupDef> m_groups;
    std::map<std::string, HostDef> m_hosts;
    std::vector<std::string> m_hostOrder;
    std::set<std::string> m_seenTop;
};

} // namespace

bool ParseInventory(const std::string& text, const std::string& path, Inventory* inventory,
                    InventoryError* error) {
    const auto failed = [&](const YAML::Mark& mark, const std::string& reason) {
        error->file = path;
        error->line = mark.is_null() ? std::nullopt : std::optional<int>(mark.line + 1);
        error->reason = reason;
        return false;
    };
    try {
        const std::vector<YAML::Node> documents = YAML::LoadAll(text);
        if (documents.size() > 1)
            return failed(documents[1].Mark(), "an inventory is one YAML document, this file holds several");
        Reader reader;
        reader.ReadRoot(documents.empty() ? YAML::Node() : documents[0]);
        Inventory read;
        reader.Finish(path, &read);
        *inventory = std::move(read);
        return true;
    } catch (const ParseFailure& failure) {
        return failed(failure.mark, failure.reason);
    } catch (const YAML::Exception& e) {
        return failed(e.mark, "not YAML: " + e.msg);
    }
}

bool ReadInventory(const std::string& path, Inventory* inventory, InventoryError* error) {
    std::string text;
    int cause = 0;
    if (!ReadSmallPlainFile(path, &text, &cause)) {
        error->file = path;
        error->line = std::nullopt;
        error->reason = "cannot be read: " + PlainFileErrorText(cause);
        return false;
    }
    return ParseInventory(text, path, inventory, error);
}

namespace {

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

bool SelectBoards(const Inventory& inventory, const std::string& pattern, std::vector<Board>* selected,
                  std::string* error) {
    const char separator = pattern.find(',') != std::string::npos ? ',' : ':';
    std::vector<std::string> regular, intersect, exclude;
    std::size_t start = 0;
    while (start <= pattern.size()) {
        const std::size_t end = std::min(pattern.find(separator, start), pattern.size());
        const std::string part = Trim(pattern.substr(start, end - start));
        start = end + 1;
        if (part.empty())
            continue;
        std::vector<std::string>* list = part[0] == '!' ? &exclude : part[0] == '&' ? &intersect : &regular;
        const std::string name = list == &regular ? part : Trim(part.substr(1));
        static const std::regex subscript(R"(.+\[(-?[0-9]*:-?[0-9]*|-?[0-9]+)\])");
        if (name.empty() || name[0] == '~' || name[0] == '@' || std::regex_match(name, subscript)) {
            *error =
                "--limit " + part +
                ": a part is a group or board name or a glob such as cab1*, with ! to leave out and & to "
                "intersect";
            return false;
        }
        list->push_back(name);
    }
    if (regular.empty() && intersect.empty() && exclude.empty()) {
        *error = "--limit is empty: name a group or a board";
        return false;
    }
    // Only exclusions and intersections: they apply to the whole inventory.
    if (regular.empty())
        regular.push_back(kAll);

    const std::size_t count = inventory.boards.size();
    const auto matches = [&](const std::string& name, std::vector<bool>* hit) {
        bool any = false;
        for (const std::string& group : inventory.groups) {
            if (fnmatch(name.c_str(), group.c_str(), 0) != 0)
                continue;
            any = true;
            for (std::size_t i = 0; i < count; ++i) {
                if (inventory.boards[i].groups.count(group))
                    (*hit)[i] = true;
            }
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (fnmatch(name.c_str(), inventory.boards[i].name.c_str(), 0) == 0) {
                any = true;
                (*hit)[i] = true;
            }
        }
        if (!any)
            *error = "--limit " + name + ": no group or board of " + inventory.file + " matches it";
        return any;
    };
    std::vector<bool> chosen(count, false);
    for (const std::string& name : regular) {
        if (!matches(name, &chosen))
            return false;
    }
    for (const std::string& name : intersect) {
        std::vector<bool> hit(count, false);
        if (!matches(name, &hit))
            return false;
        for (std::size_t i = 0; i < count; ++i)
            chosen[i] = chosen[i] && hit[i];
    }
    for (const std::string& name : exclude) {
        std::vector<bool> hit(count, false);
        if (!matches(name, &hit))
            return false;
        for (std::size_t i = 0; i < count; ++i)
            chosen[i] = chosen[i] && !hit[i];
    }
    selected->clear();
    for (std::size_t i = 0; i < count; ++i) {
        if (chosen[i])
            selected->push_back(inventory.boards[i]);
    }
    if (selected->empty()) {
        *error = "--limit " + pattern + " selects no board of " + inventory.file;
        return false;
    }
    return true;
}

} // namespace tessor::fleet
