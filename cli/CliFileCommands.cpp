// save and load of configuration files, Set to Default and the preset write.
#include "cli/CliCommands.h"

#include "files/PlainFile.h"
#include "model/PublishedNames.h"
#include "ops/Board.h"
#include "ops/ConfigFiles.h"
#include "ops/LinkSettings.h"
#include "ops/ProcessAccess.h"

#include <cstdio>

namespace tessor::cli {

namespace {

const char* Written(bool written) {
    return written ? "written" : "not written";
}

int FileFail(const Context& ctx, const std::string& path, const std::string& what, const std::string& hint) {
    return ctx.Fail(kExitFile, path + ": " + what + "\n" + hint, "file_error");
}

int Cancelled(const Context& ctx) {
    return ctx.Fail(kExitRefused, "cancelled; nothing was changed", "not_confirmed");
}

} // namespace

int RunSave(const Context& ctx, const std::string& file) {
    // The file's place is checked before the 31 reads; the file is written whole once they are done.
    int error = 0;
    if (!CanReplacePlainFile(file, &error))
        return FileFail(ctx, file, "cannot be created: " + PlainFileErrorText(error) + ".",
                        "Check that its folder exists and that you may write there.");
    const ops::ModemSideRead side = ops::DetectModemSide(ctx.Bus());
    if (!side.read.ok())
        return ctx.BoardFailure(side.read);
    const ops::SaveRead read = ops::ReadConfiguration(ctx.Bus(), side.side, ctx.options.blockReads);
    if (!read.ok) {
        ctx.streams.err << "tessor-cli: " << file << " has not been saved." << std::endl;
        return ctx.BoardFailure(read.failure);
    }
    if (!ReplacePlainFileContents(file, read.bytes.data(), read.bytes.size(), &error))
        return FileFail(ctx, file, "could not be written: " + PlainFileErrorText(error) + ".",
                        "Check the free space and that you may write there.");

    nlohmann::json registers = nlohmann::json::object();
    for (std::size_t i = 0; i < kConfigRegisterCount; ++i)
        registers[std::string(kConfigRegisters[i])] = read.values[i];
    return ctx.Done({{NameOf(Published::kFile), file},
                     {NameOf(Published::kSide), SideName(side.side)},
                     {NameOf(Published::kSize), read.bytes.size()},
                     {NameOf(Published::kRegisters), registers}},
                    "Saved " + std::to_string(kConfigRegisterCount) + " registers of the " +
                        SideName(side.side) + " modem to " + file + "\n");
}

int RunLoad(const Context& ctx, const std::string& file) {
    std::string bytes;
    int error = 0;
    if (!ReadSmallPlainFile(file, &bytes, &error))
        return FileFail(ctx, file, "cannot be read: " + PlainFileErrorText(error) + ".",
                        "Check the name and that you may read the file.");
    const ops::ModemSideRead side = ops::DetectModemSide(ctx.Bus());
    if (!side.read.ok())
        return ctx.BoardFailure(side.read);
    const ops::CheckedConfigFile checked = ops::CheckConfigFile(bytes, side.side);
    if (!checked.ok)
        return FileFail(ctx, file, checked.message, "Nothing was written; the modem was not restarted.");
    if (!ctx.Confirm("Load " + file + " into the local " + SideName(side.side) +
                     " modem: its records are written, then the modem restarts."))
        return Cancelled(ctx);

    const ops::LoadResult result = ops::LoadConfiguration(ctx.Bus(), bytes, side.side, ops::DefaultSleep);
    if (result.status == ops::LoadResult::Status::FileError)
        return FileFail(ctx, file, result.message, "Nothing was written; the modem was not restarted.");
    if (result.status == ops::LoadResult::Status::BoardFailed) {
        ctx.streams.err << "tessor-cli: " << result.written << " registers of " << file << " were written"
                        << (result.restarted ? "." : "; the modem was not restarted.") << std::endl;
        return ctx.BoardFailure(result.failure, {{NameOf(Published::kWritten), result.written},
                                                 {NameOf(Published::kRestarted), result.restarted}});
    }
    return ctx.Done({{NameOf(Published::kFile), file},
                     {NameOf(Published::kSide), SideName(side.side)},
                     {NameOf(Published::kWritten), result.written},
                     {NameOf(Published::kRestarted), result.restarted}},
                    "Loaded " + std::to_string(result.written) + " registers from " + file +
                        "; the modem was restarted\n");
}

int RunDefault(const Context& ctx) {
    const ops::ModemSideRead side = ops::DetectModemSide(ctx.Bus());
    if (!side.read.ok())
        return ctx.BoardFailure(side.read);
    if (!ctx.Confirm(ops::kDefaultWarning))
        return Cancelled(ctx);
    const ops::DefaultResult result =
        ops::SetToDefault(ctx.Bus(), side.side, ops::kDefaultTableCrystal, ops::DefaultSleep, [&ctx] {
            ctx.streams.err << "tessor-cli: " << ops::kDefaultNtSideText << std::endl;
        });
    const nlohmann::json doc{{NameOf(Published::kSide), SideName(side.side)},
                             {NameOf(Published::kLineUp), result.linkUp},
                             {NameOf(Published::kRemoteWritten), result.RemoteWritten()},
                             {NameOf(Published::kLocalWritten), result.LocalWritten()},
                             {NameOf(Published::kNtSideNotice), result.ntSideRefused}};
    const std::string written =
        "Set to Default: remote modem " +
        std::string(result.remoteAttempted ? Written(result.RemoteWritten()) : "not reached") +
        ", local modem " + Written(result.LocalWritten());
    if (!result.linkCheck.ok())
        return ctx.BoardFailure(result.linkCheck, doc);
    if (result.remoteAttempted && !result.remote.ok()) {
        ctx.streams.err << "tessor-cli: " << written << "." << std::endl;
        return ctx.BoardFailure(result.remote, doc);
    }
    if (!result.local.ok()) {
        ctx.streams.err << "tessor-cli: " << written << "." << std::endl;
        return ctx.BoardFailure(result.local, doc);
    }
    std::string text = std::string("Set to Default: ") +
                       (result.RemoteWritten() ? "remote and local modem written and restarted\n"
                                               : "local modem written and restarted\n");
    return ctx.Done(doc, text);
}

int RunPreset(const Context& ctx, const PresetArgs& args) {
    const ops::ModemSideRead side = ops::DetectModemSide(ctx.Bus());
    if (!side.read.ok())
        return ctx.BoardFailure(side.read);
    ops::PresetRequest request;
    request.side = side.side;
    request.preset = args.preset - 1;
    request.localSpeed = static_cast<std::uint8_t>(args.localSpeed - 1);
    if (ops::CheckPresetWrite(request) == ops::PresetCheck::NtSide)
        return ctx.Fail(kExitRefused, ops::kPresetNtRefusal);

    const RegResult link = ops::IsLinkUp(ctx.Bus());
    if (!link.ok())
        return ctx.BoardFailure(link);
    request.remote = link.value == 1;
    if (request.remote && args.remoteSpeed > 0) {
        request.remoteSpeed = static_cast<std::uint8_t>(args.remoteSpeed - 1);
    } else if (request.remote) {
        // As the page does: the remote modem's own setting, when it names one.
        const ops::SpeedRead speed = ops::ReadEthernetSpeed(ctx.Bus(), kRemote);
        if (!speed.read.ok())
            return ctx.BoardFailure(speed.read);
        if (speed.position)
            request.remoteSpeed = static_cast<std::uint8_t>(*speed.position);
    }
    if (ops::CheckPresetWrite(request) == ops::PresetCheck::RemoteSpeedUnknown)
        return ctx.Fail(kExitRefused,
                        std::string(ops::kRemoteSpeedUnknown) + "\nGive it with --remote-speed 1..3.");
    if (!ctx.Confirm(ops::kPresetWarning))
        return Cancelled(ctx);

    const ops::PresetResult result = ops::WritePreset(ctx.Bus(), request, ops::DefaultSleep);
    const nlohmann::json doc{{NameOf(Published::kPreset), args.preset},
                             {NameOf(Published::kLocalSpeed), args.localSpeed},
                             {NameOf(Published::kRemoteWritten), result.RemoteWritten()},
                             {NameOf(Published::kLocalWritten), result.LocalWritten()},
                             {NameOf(Published::kRemoteSpeed), request.remoteSpeed
                                                                   ? nlohmann::json(*request.remoteSpeed + 1)
                                                                   : nlohmann::json(nullptr)}};
    const RegResult failure =
        FirstFailure(result.remoteAttempted ? result.remote : RegResult::Answer(1), result.local);
    if (!failure.ok()) {
        ctx.streams.err << "tessor-cli: preset " << args.preset << ": remote modem "
                        << (result.remoteAttempted ? Written(result.RemoteWritten()) : "not reached")
                        << ", local modem " << Written(result.LocalWritten()) << "." << std::endl;
        return ctx.BoardFailure(failure, doc);
    }
    return ctx.Done(doc, "Preset " + std::to_string(args.preset) + " written to the " +
                             (request.remote ? "remote and the local modem" : "local modem") +
                             "; restarted\n");
}

} // namespace tessor::cli
