// Single register operations and the General page's actions.
#include "cli/CliCommands.h"

#include "model/PublishedNames.h"
#include "ops/Access.h"
#include "ops/Board.h"

#include <vector>

namespace tessor::cli {

namespace {

std::uint8_t OpCode(const std::string& op) {
    if (op == "write")
        return kWrite;
    if (op == "or")
        return kOr;
    if (op == "and")
        return kAnd;
    return kRead;
}

// The count text of a read: " 1" for one register, else "0n".
std::string CountText(int count) {
    return count == 1 ? std::string(" 1") : "0" + Hex2(static_cast<unsigned>(count)).substr(1);
}

// The console line the transport sends for an operation, without its line feed.
std::string ConsoleLine(std::uint8_t op, const std::string& address, const std::string& value) {
    static const char* const kWords[] = {"RD", "WR", "OR", "ND"};
    std::string line = std::string(kWords[op - 1]) + " " + address;
    if (op == kRead) {
        if (value[1] != '1')
            line += std::string(",") + value[1];
    } else {
        line += " " + value;
    }
    return line;
}

const char* TargetName(bool remote) {
    return remote ? "remote" : "local";
}

int Cancelled(const Context& ctx) {
    return ctx.Fail(kExitRefused, "cancelled; nothing was changed");
}

std::vector<unsigned> UnpackRead(std::int64_t raw, int count) {
    std::vector<unsigned> values;
    for (int i = 0; i < count; ++i)
        values.push_back(static_cast<unsigned>((static_cast<std::uint64_t>(raw) >> (8 * i)) & 0xFF));
    return values;
}

struct GeneralStep {
    const char* name;
    const char* question;
    bool remote;
    RegResult (*run)(IRegisterBus&);
};

GeneralStep StepFor(GeneralAction action) {
    switch (action) {
    case GeneralAction::Reset:
        return {"reset", "Soft reset of the local modem (OR 8C00 20).", false, &ops::SoftResetLocal};
    case GeneralAction::LoopbackLocal:
        return {"loopback local", "Local loopback of the local modem (ND 8C00 7F, then OR 8C00 01).", false,
                &ops::LocalLoopback};
    case GeneralAction::LoopbackLine:
        return {"loopback line", "Line loopback of the local modem (OR 8C00 02).", false,
                &ops::LineLoopbackLocal};
    case GeneralAction::TransmitterOn:
        return {"transmitter on",
                "Turn the transmitter of the local modem on (WR 8C00 40; every other bit of "
                "8C00 goes off).",
                false, [](IRegisterBus& bus) { return ops::SetTransmitter(bus, true); }};
    case GeneralAction::TransmitterOff:
        return {"transmitter off",
                "Turn the transmitter of the local modem off (WR 8C00 00; every bit of 8C00 "
                "goes off).",
                false, [](IRegisterBus& bus) { return ops::SetTransmitter(bus, false); }};
    case GeneralAction::ActivationOn:
        return {"activation on", "Enable the activation of the local modem (OR 8C00 80).", false,
                [](IRegisterBus& bus) { return ops::SetActivation(bus, true); }};
    case GeneralAction::ActivationOff:
        return {"activation off", "Disable the activation of the local modem (ND 8C00 7F).", false,
                [](IRegisterBus& bus) { return ops::SetActivation(bus, false); }};
    case GeneralAction::RemoteReset:
        return {"remote reset", "Soft reset of the remote modem.", true, &ops::SoftResetRemote};
    case GeneralAction::RemoteLoopback:
        break;
    }
    return {"remote loopback", "Line loopback of the remote modem.", true, &ops::LineLoopbackRemote};
}

} // namespace

int RunRegister(const Context& ctx, const RegisterArgs& args) {
    const std::uint8_t op = OpCode(args.op);
    const std::string value = op == kRead ? CountText(args.count) : args.value;
    const std::string line = ConsoleLine(op, args.address, value);
    if (op != kRead && !ctx.Confirm("Send " + line + " to the " + TargetName(args.remote) + " modem" +
                                    (args.remote ? " through the mailbox." : ".")))
        return Cancelled(ctx);

    const RegResult outcome =
        ops::RegisterOperation(ctx.Bus(), args.remote ? kRemote : kLocal, op, args.address, value);
    if (!outcome.ok())
        return ctx.BoardFailure(outcome);

    nlohmann::json doc{{NameOf(Published::kOperation), args.op},
                       {NameOf(Published::kTarget), TargetName(args.remote)},
                       {NameOf(Published::kAddress), args.address},
                       {NameOf(Published::kCommand), line},
                       {NameOf(Published::kRaw), outcome.value}};
    std::string text;
    if (op == kRead) {
        const std::vector<unsigned> values = UnpackRead(outcome.value, args.count);
        std::string hex;
        for (unsigned v : values)
            hex += " " + Hex2(v);
        doc[NameOf(Published::kSampleCount)] = args.count;
        doc[NameOf(Published::kValues)] = values;
        doc[NameOf(Published::kText)] = hex.substr(1);
        text = args.address + ":" + hex + "\n";
    } else {
        doc[NameOf(Published::kValue)] = value;
        text = line + (args.remote ? " (remote)" : "") + ": done\n";
    }
    return ctx.Done(doc, text);
}

int RunGeneral(const Context& ctx, GeneralAction action) {
    const GeneralStep step = StepFor(action);
    if (!ctx.Confirm(step.question))
        return Cancelled(ctx);
    const RegResult outcome = step.run(ctx.Bus());
    if (!outcome.ok())
        return ctx.BoardFailure(outcome);
    return ctx.Done(nlohmann::json{{NameOf(Published::kAction), step.name},
                                   {NameOf(Published::kTarget), TargetName(step.remote)},
                                   {NameOf(Published::kRaw), outcome.value}},
                    std::string(step.name) + ": done\n");
}

} // namespace tessor::cli
