// fleet list: the boards an inventory and --limit select, with the port, side and files each is run with.
#include "cli/FleetCommand.h"

#include "cli/CliSession.h"
#include "fleet/Inventory.h"

#include <algorithm>
#include <iostream>
#include <vector>

namespace tessor::cli {

namespace {

nlohmann::json Optional(const std::optional<std::string>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

// The boards as a table: a header, then one row per board with its columns aligned; "-" for a value not set.
std::string BoardTable(const std::vector<fleet::Board>& boards) {
    std::vector<std::vector<std::string>> rows{{"BOARD", "SITE", "PORT", "SIDE", "CONFIG"}};
    for (const fleet::Board& board : boards)
        rows.push_back({board.name, board.site, board.port,
                        board.side ? fleet::BoardSideName(*board.side) : "-", board.config.value_or("-")});
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i] + std::string(widths[i] - row[i].size() + 2, ' ') : row[i];
        text += line + "\n";
    }
    return text;
}

int RunList(const Context& ctx, const fleet::Inventory& inventory, const std::vector<fleet::Board>& boards) {
    nlohmann::json list = nlohmann::json::array();
    for (const fleet::Board& board : boards) {
        list.push_back({{"board", board.name},
                        {"site", board.site},
                        {"port", board.port},
                        {"side", board.side ? nlohmann::json(fleet::BoardSideName(*board.side)) : nullptr},
                        {"config", Optional(board.config)},
                        {"criteria", Optional(board.criteria)},
                        {"groups", board.groups}});
    }
    return ctx.Done({{"inventory", inventory.file}, {"boards", list}}, BoardTable(boards));
}

} // namespace

CLI::App* AddFleetCommand(CLI::App& app, FleetArguments& args) {
    CLI::App* fleet = app.add_subcommand("fleet", "commands over the boards of an inventory file");
    fleet->require_subcommand(1);
    fleet->add_option("--inventory", args.inventory, "the inventory: boards behind console servers (YAML)")
        ->required();
    args.limitOption =
        fleet->add_option("--limit", args.limit,
                          "the boards to run on: group or board names or globs such as cab1*, separated by , "
                          "with !NAME to leave out and &GROUP to intersect (default: every board)");
    args.list = fleet->add_subcommand("list", "print the selected boards: site, port, side and files");
    return fleet;
}

int RunFleet(const FleetArguments& args, const GlobalOptions& options, const Streams& streams) {
    CliSession session(streams.err, options.answerTimeoutMs,
                       options.retries); // never opened: no board traffic
    const Context ctx(options, streams, session);
    fleet::Inventory inventory;
    fleet::InventoryError error;
    if (!fleet::ReadInventory(args.inventory, &inventory, &error))
        return ctx.Fail(kExitUsage,
                        fleet::InventoryErrorText(error) +
                            ".\nCorrect the inventory; see tessor-cli(1), fleet.",
                        "bad_inventory");
    std::vector<fleet::Board> boards = inventory.boards;
    std::string why;
    if (args.limitOption->count() > 0 && !fleet::SelectBoards(inventory, args.limit, &boards, &why))
        return ctx.Fail(kExitUsage,
                        why + ".\nName a group or board of the inventory (tessor-cli fleet list shows them).",
                        "bad_limit");
    return RunList(ctx, inventory, boards);
}

} // namespace tessor::cli
