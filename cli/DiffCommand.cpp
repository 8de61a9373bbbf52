// diff: two saved configurations, or a board against one, in the words of the pages.
#include "cli/CliCommands.h"

#include "files/PlainFile.h"
#include "linetest/ConfigCompare.h"
#include "model/PublishedNames.h"

#include <sstream>

namespace tessor::cli {

namespace {

// A file's registers, or false after the message that names it (nothing is read from the board then).
bool ReadConfigurationSet(const Context& ctx, const std::string& file, ConfigRegisterSet* set, int* code) {
    std::string bytes;
    int error = 0;
    if (!ReadSmallPlainFile(file, &bytes, &error)) {
        *code = ctx.Fail(kExitFile, file + ": cannot be read: " + PlainFileErrorText(error) +
                                        ".\nCheck the name and that you may read it. Nothing was compared.");
        return false;
    }
    const linetest::ParsedConfiguration parsed = linetest::ParseConfiguration(bytes);
    if (!parsed.ok) {
        *code = ctx.Fail(kExitFile,
                         file + ": not a configuration file (" + parsed.message +
                             ").\nGive a file saved by the tool (*.LT or *.NT). Nothing was compared.");
        return false;
    }
    *set = linetest::RegisterSet(parsed);
    return true;
}

int Finish(const Context& ctx, const std::string& before, const std::string& after, const ConfigDiff& diff) {
    std::ostringstream text;
    for (const ConfigChange& change : diff.changes) {
        text << change.Words();
        if (!change.registers.empty()) {
            text << "  (";
            for (std::size_t i = 0; i < change.registers.size(); ++i)
                text << (i ? " " : "") << change.registers[i];
            text << ")";
        }
        text << "\n";
    }
    if (diff.sidesDiffer)
        text << diff.SideNote() << "\n";
    text << (diff.Equal()
                 ? before + " and " + after + " hold the same configuration.\n"
                 : std::to_string(diff.changes.size()) + (diff.changes.size() == 1 ? " change" : " changes") +
                       " from " + before + " to " + after + ".\n");
    ctx.Done(DiffJson(before, after, diff), text.str());
    return diff.Equal() ? kExitOk : kExitDiffer;
}

} // namespace

nlohmann::json ConfigDiffJson(const ConfigDiff& diff) {
    nlohmann::json changes = nlohmann::json::array();
    for (const ConfigChange& change : diff.changes)
        changes.push_back({{NameOf(Published::kCriterionName), change.name},
                           {NameOf(Published::kCaption), change.caption},
                           {NameOf(Published::kBefore), change.before},
                           {NameOf(Published::kAfter), change.after},
                           {NameOf(Published::kRegisters), change.registers},
                           {NameOf(Published::kWords), change.Words()}});
    return {{NameOf(Published::kEqual), diff.Equal()},
            {NameOf(Published::kSidesDiffer), diff.sidesDiffer},
            {NameOf(Published::kNotCompared), diff.notCompared},
            {NameOf(Published::kChanges), changes}};
}

nlohmann::json DiffJson(const std::string& before, const std::string& after, const ConfigDiff& diff) {
    nlohmann::json doc = ConfigDiffJson(diff);
    doc[NameOf(Published::kBefore)] = before;
    doc[NameOf(Published::kAfter)] = after;
    return doc;
}

int RunDiffFiles(const Context& ctx, const std::string& before, const std::string& after) {
    ConfigRegisterSet a, b;
    int code = kExitOk;
    if (!ReadConfigurationSet(ctx, before, &a, &code) || !ReadConfigurationSet(ctx, after, &b, &code))
        return code;
    return Finish(ctx, before, after, DiffConfigurations(a, b, kConfigCrystalIndex));
}

int RunDiffBoard(const Context& ctx, const std::string& file) {
    ConfigRegisterSet inFile;
    int code = kExitOk;
    if (!ReadConfigurationSet(ctx, file, &inFile, &code))
        return code;
    // The reads of save and verify.
    const ops::ModemSideRead side = ops::DetectModemSide(ctx.Bus());
    if (!side.read.ok())
        return ctx.BoardFailure(side.read);
    const ops::SaveRead read = ops::ReadConfiguration(ctx.Bus(), side.side);
    if (!read.ok)
        return ctx.BoardFailure(read.failure);
    return Finish(ctx, file, "the board on " + ctx.session.Port().device,
                  DiffConfigurations(inFile, linetest::RegisterSet(read, side.side), kConfigCrystalIndex));
}

} // namespace tessor::cli
