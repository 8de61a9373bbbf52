#include "cli/CliContext.h"

#include "link/NetworkPortName.h"
#include "link/NetworkSocket.h"
#include "model/PublishedNames.h"
#include "monitor/JsonText.h"

#include <cctype>
#include <iostream>

namespace tessor::cli {

namespace {

bool IsHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

std::string Upper(const std::string& text) {
    std::string upper;
    for (char c : text)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

} // namespace

int Context::Done(const nlohmann::json& document, const std::string& text) const {
    if (options.json)
        streams.out << JsonText(document, 2) << "\n";
    else
        streams.out << text;
    streams.out.flush();
    return kExitOk;
}

int Context::Fail(int code, const std::string& message, const std::string& error,
                  const nlohmann::json& extra) const {
    streams.err << "tessor-cli: " << message << std::endl;
    if (options.json) {
        nlohmann::json doc = extra;
        doc[NameOf(Published::kError)] = error;
        doc[NameOf(Published::kMessage)] = message;
        doc[NameOf(Published::kExitCode)] = code;
        streams.out << JsonText(doc, 2) << "\n";
        streams.out.flush();
    }
    return code;
}

namespace {

std::string Where(const ResolvedPort& port) {
    return port.device != port.name ? port.name + " (" + port.device + ")" : port.name;
}

const char* const kCheckBoard = "Check the cable to the board, that the port is the right one, and reset the "
                                "board; then try again.";

// A reply as C-style text: printable characters as they are, line ends and other bytes escaped.
std::string Quoted(const std::string& reply) {
    std::string text = "\"";
    for (const char c : reply) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else if (c == '"' || c == '\\')
            text += std::string("\\") + c;
        else if (byte >= 0x20 && byte < 0x7F)
            text += c;
        else
            text += "\\x" + Hex2(byte);
    }
    return text + "\"";
}

std::string Garbled(const std::string& where, const std::string& reply) {
    const std::string what = reply.empty()
                                 ? std::string(".")
                                 : ": " + Quoted(reply) + " is not the echo and the answer asked for.";
    return "the board on " + where + " garbled its reply" + what + "\n" + kCheckBoard;
}

std::string Reason(const Context& ctx, const RegResult& result) {
    const std::string where = Where(ctx.session.Port());
    switch (result.outcome) {
    case Outcome::Garbled:
        return Garbled(where, result.reply);
    case Outcome::MailboxIncomplete:
        return "the remote modem did not complete the operation: the mailbox of the local modem on " + where +
               " never reported it done. The board answered; check that the line is up (tessor-cli status) "
               "and try again.";
    case Outcome::LineDown:
        return "the line is down, so the remote modem cannot be reached; nothing was sent to it. Wait until "
               "the line is up (tessor-cli status) and try again.";
    case Outcome::DeviceFailed:
        if (ctx.session.LastDeviceError() == kNetworkPortBusy)
            return BusyPortProblem(ctx.session.Port());
        if (IsNetworkPortName(ctx.session.Port().device))
            return "the connection to the console server at " + where + " ended or failed.\n" +
                   NetworkOpenAdvice() + " Then try again.";
        return "the device " + where +
               " failed or is gone.\nCheck that the adapter is plugged in; then "
               "try again.";
    case Outcome::Cancelled:
        return "interrupted before the board on " + where + " answered.";
    case Outcome::Answered:
    case Outcome::NoAnswer:
        break;
    }
    const int retries = ctx.session.Retries();
    return "the board on " + where + " did not answer within " +
           std::to_string(ctx.session.AnswerTimeoutMs()) + " ms" +
           (retries > 0 ? " and " + std::to_string(retries) + " further waits" : std::string()) + ".\n" +
           kCheckBoard;
}

} // namespace

int Context::BoardFailure(const RegResult& result, const nlohmann::json& extra) const {
    // A console server that kept turning the connection away: the port could not be had, as when it
    // cannot be opened.
    if (result.outcome == Outcome::DeviceFailed && session.LastDeviceError() == kNetworkPortBusy)
        return Fail(kExitPort, Reason(*this, result), "port_busy", extra);
    const int code = result.outcome == Outcome::LineDown ? kExitRefused : kExitNoAnswer;
    return Fail(code, Reason(*this, result), OutcomeName(result.outcome), extra);
}

bool Context::Confirm(const std::string& question) const {
    if (options.yes)
        return true;
    streams.err << question << "\nGo on? [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(streams.in, answer))
        return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

bool ParseAddress(const std::string& text, std::string* address) {
    if (text.size() != 4 || text[0] != '8' || !IsHex(text[1]) || !IsHex(text[2]) || !IsHex(text[3]))
        return false;
    *address = Upper(text);
    return true;
}

bool ParseByte(const std::string& text, std::string* value, std::uint8_t* byte) {
    if (text.empty() || text.size() > 2 || !IsHex(text[0]) || (text.size() == 2 && !IsHex(text[1])))
        return false;
    const unsigned parsed = static_cast<unsigned>(std::stoul(text, nullptr, 16));
    *byte = static_cast<std::uint8_t>(parsed);
    *value = Hex2(parsed);
    return true;
}

std::string Hex2(unsigned value) {
    static const char kDigits[] = "0123456789ABCDEF";
    return std::string{kDigits[(value >> 4) & 0xF], kDigits[value & 0xF]};
}

} // namespace tessor::cli
