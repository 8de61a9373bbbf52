#include "link/Rfc2217Codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace tessor {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t IAC = 0xFF, WILL = 0xFB, WONT = 0xFC, DO = 0xFD, DONT = 0xFE, SB = 0xFA, SE = 0xF0;
constexpr std::uint8_t BINARY = 0, SGA = 3, COMPORT = 44;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// The server's agreement to everything the client offers.
const Bytes kServerAgrees = {IAC, DO,  BINARY, IAC, WILL, BINARY, IAC,    DO,
                             SGA, IAC, WILL,   SGA, IAC,  DO,     COMPORT};
// The client's line settings for 9600 8-N-1 without flow control, DTR and RTS on, in that order.
const Bytes kLineSettings = {IAC, SB, COMPORT, 1, 0x00, 0x00, 0x25, 0x80, IAC, SE, // baud 9600
                             IAC, SB, COMPORT, 2, 8,    IAC,  SE,                  // 8 data bits
                             IAC, SB, COMPORT, 3, 1,    IAC,  SE,                  // no parity
                             IAC, SB, COMPORT, 4, 1,    IAC,  SE,                  // one stop bit
                             IAC, SB, COMPORT, 5, 1,    IAC,  SE,                  // no flow control
                             IAC, SB, COMPORT, 5, 8,    IAC,  SE,                  // DTR on
                             IAC, SB, COMPORT, 5, 11,   IAC,  SE};                 // RTS on
// The server's answers to the line settings (command + 100); it does not answer DTR and RTS.
const Bytes kSettingAnswers = {IAC, SB, COMPORT, 101, 0x00, 0x00, 0x25, 0x80, IAC, SE, //
                               IAC, SB, COMPORT, 102, 8,    IAC,  SE,                  //
                               IAC, SB, COMPORT, 103, 1,    IAC,  SE,                  //
                               IAC, SB, COMPORT, 104, 1,    IAC,  SE,                  //
                               IAC, SB, COMPORT, 105, 1,    IAC,  SE};

Bytes Data(Rfc2217Codec& codec) {
    Bytes out(256);
    out.resize(codec.TakeData(out.data(), out.size()));
    return out;
}

void Feed(Rfc2217Codec& codec, const Bytes& bytes, std::size_t chunk) {
    for (std::size_t i = 0; i < bytes.size(); i += chunk)
        codec.Receive(bytes.data() + i, std::min(chunk, bytes.size() - i));
}

TEST(Rfc2217Codec, OffersBinarySuppressGoAheadAndComPortOption) {
    Rfc2217Codec codec(LineSettings{});
    codec.Start();
    EXPECT_EQ(codec.TakeOutgoing(),
              (Bytes{IAC, WILL, BINARY, IAC, DO, BINARY, IAC, WILL, SGA, IAC, DO, SGA, IAC, WILL, COMPORT}));
    EXPECT_EQ(codec.State(), Rfc2217Codec::Negotiation::Pending);
}

// The same server stream, whole and cut into pieces of every size from one byte: options, answers and
// console bytes split across reads come out the same.
TEST(Rfc2217Codec, NegotiatesTheLineWhateverTheReadsCutTheStreamInto) {
    const Bytes stream = Cat({kServerAgrees, kSettingAnswers, {'L', '>'}});
    for (std::size_t chunk = 1; chunk <= stream.size(); ++chunk) {
        SCOPED_TRACE(chunk);
        Rfc2217Codec codec(LineSettings{});
        codec.Start();
        (void)codec.TakeOutgoing();
        Feed(codec, kServerAgrees, chunk);
        EXPECT_EQ(codec.TakeOutgoing(), kLineSettings);
        EXPECT_EQ(codec.State(), Rfc2217Codec::Negotiation::Pending);
        Feed(codec, Bytes(stream.begin() + kServerAgrees.size(), stream.end()), chunk);
        EXPECT_EQ(codec.State(), Rfc2217Codec::Negotiation::Ready);
        EXPECT_EQ(Data(codec), (Bytes{'L', '>'}));
        EXPECT_TRUE(codec.TakeOutgoing().empty());
    }
}

TEST(Rfc2217Codec, SendsOtherLineSettingsInTheOptionsCoding) {
    LineSettings s;
    s.baud = 115200;
    s.byteSize = 7;
    s.parity = 2;   // even
    s.stopBits = 2; // two
    Rfc2217Codec codec(s);
    codec.Start();
    (void)codec.TakeOutgoing();
    codec.Receive(kServerAgrees.data(), kServerAgrees.size());
    const Bytes out = codec.TakeOutgoing();
    const Bytes expectedStart = {IAC, SB,      COMPORT, 1,  0x00,    0x01, 0xC2, 0x00, IAC,     SE, IAC,
                                 SB,  COMPORT, 2,       7,  IAC,     SE,   IAC,  SB,   COMPORT, 3,  3,
                                 IAC, SE,      IAC,     SB, COMPORT, 4,    2,    IAC,  SE};
    ASSERT_GE(out.size(), expectedStart.size());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + expectedStart.size()), expectedStart);
}

// The stop size codes on the wire: one 1, two 2, one and a half 3; parity none 1, odd 2, even 3.
TEST(Rfc2217Codec, CodesEachStopSizeAndParity) {
    struct Case {
        std::uint8_t stopBits, parity, stopCode, parityCode;
    };
    const Case cases[] = {{0, 0, 1, 1}, {2, 1, 2, 2}, {1, 2, 3, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.stopBits));
        LineSettings s;
        s.stopBits = c.stopBits;
        s.parity = c.parity;
        Rfc2217Codec codec(s);
        codec.Start();
        (void)codec.TakeOutgoing();
        codec.Receive(kServerAgrees.data(), kServerAgrees.size());
        const Bytes out = codec.TakeOutgoing();
        const Bytes parity = {IAC, SB, COMPORT, 3, c.parityCode, IAC, SE};
        const Bytes stop = {IAC, SB, COMPORT, 4, c.stopCode, IAC, SE};
        EXPECT_NE(std::search(out.begin(), out.end(), parity.begin(), parity.end()), out.end());
        EXPECT_NE(std::search(out.begin(), out.end(), stop.begin(), stop.end()), out.end());
    }
}

TEST(Rfc2217Codec, StaysPendingUntilEveryLineSettingIsAnswered) {
    Rfc2217Codec codec(LineSettings{});
    codec.Start();
    codec.Receive(kServerAgrees.data(), kServerAgrees.size());
    // Everything but the flow control answer.
    const Bytes withoutFlow(kSettingAnswers.begin(), kSettingAnswers.end() - 7);
    codec.Receive(withoutFlow.data(), withoutFlow.size());
    EXPECT_EQ(codec.State(), Rfc2217Codec::Negotiation::Pending);
    const Bytes flow(kSettingAnswers.end() - 7, kSettingAnswers.end());
    codec.Receive(flow.data(), flow.size());
    EXPECT_EQ(codec.State(), Rfc2217Codec::Negotiation::Ready);
}

TEST(Rfc2217Codec, WithoutBinaryBothWaysItIsNotReady) {
    Rfc2217Codec codec(LineSettings{});
    codec.Start();
    const Bytes noBinaryIn = {IAC, DO, BINARY, IAC, DO, COMPORT};
    codec.Receive(noBinaryIn.data(), noBinaryIn.size());
    codec.Receive(kSettingAnswers.data(), kSettingAnswers.size());
    EXPECT_EQ(codec.State(), Rfc2217Codec::Negotiation::Pending);
}

TEST(Rfc2217Codec, RefusedOptionsAreAnsweredAndLeaveItPending) {
    Rfc2217Codec codec(LineSettings{});
    codec.Start();
    (void)codec.TakeOutgoing();
    const Bytes refusals = {IAC, WONT, BINARY, IAC, DONT, BINARY, IAC, WONT, SGA, IAC, DONT, COMPORT};
    Feed(codec, refusals, 1);
    EXPECT_EQ(codec.State(), Rfc2217Codec::Negotiation::Pending);
    EXPECT_TRUE(codec.TakeOutgoing().empty()); // no line settings for a server without the option
    // What the server sends then is console data all the same.
    const Bytes data = {'L', '>', IAC, IAC};
    codec.Receive(data.data(), data.size());
    EXPECT_EQ(Data(codec), (Bytes{'L', '>', 0xFF}));
}

// A server that refuses binary sends a carriage return as CR NUL (the telnet line convention): the NUL
// is no console byte, however the reads cut the stream. In binary both bytes are the console's.
TEST(Rfc2217Codec, DropsTheNulAfterACarriageReturnOnlyWhileBinaryReceiveIsOff) {
    const Bytes wire = {'\n', '\r', 0x00, 'L', '>', 0x00, '\r', 0x00};
    for (std::size_t chunk = 1; chunk <= wire.size(); ++chunk) {
        SCOPED_TRACE(chunk);
        Rfc2217Codec refused(LineSettings{});
        refused.Start();
        const Bytes refusals = {IAC, WONT, BINARY, IAC, DONT, BINARY};
        refused.Receive(refusals.data(), refusals.size());
        Feed(refused, wire, chunk);
        EXPECT_EQ(Data(refused), (Bytes{'\n', '\r', 'L', '>', 0x00, '\r'}));

        Rfc2217Codec binary(LineSettings{});
        binary.Start();
        binary.Receive(kServerAgrees.data(), kServerAgrees.size());
        Feed(binary, wire, chunk);
        EXPECT_EQ(Data(binary), wire);
    }
}

TEST(Rfc2217Codec, DoublesEvery0xFFItSendsAndUndoublesWhatItReceives) {
    Rfc2217Codec codec(LineSettings{});
    const Bytes console = {'W', 'R', 0xFF, 0xFF, 0x00, '\n'};
    codec.Send(console.data(), console.size());
    EXPECT_EQ(codec.TakeOutgoing(), (Bytes{'W', 'R', IAC, IAC, IAC, IAC, 0x00, '\n'}));
    const Bytes wire = {'A', IAC, IAC, 'B', IAC, IAC};
    for (std::size_t chunk = 1; chunk <= wire.size(); ++chunk) {
        Rfc2217Codec receiver(LineSettings{});
        Feed(receiver, wire, chunk);
        EXPECT_EQ(Data(receiver), (Bytes{'A', 0xFF, 'B', 0xFF})) << chunk;
    }
}

TEST(Rfc2217Codec, ModemStateNotificationsInTheMiddleOfAReplyLeaveTheReplyWhole) {
    Rfc2217Codec codec(LineSettings{});
    const Bytes wire = {'\r', '8', 'C',     IAC, SB,   COMPORT, 107, 0x30, IAC, SE,  '1', '0',
                        IAC,  SB,  COMPORT, 106, 0x60, IAC,     SE,  ':',  ' ', '3', '2'};
    Feed(codec, wire, 3);
    EXPECT_EQ(Data(codec), (Bytes{'\r', '8', 'C', '1', '0', ':', ' ', '3', '2'}));
    EXPECT_TRUE(codec.TakeOutgoing().empty());
}

TEST(Rfc2217Codec, DataTakenInPiecesComesOutInOrderAndDiscardEmptiesIt) {
    Rfc2217Codec codec(LineSettings{});
    const Bytes wire = {'a', 'b', 'c', 'd', 'e'};
    codec.Receive(wire.data(), wire.size());
    std::uint8_t two[2];
    ASSERT_EQ(codec.TakeData(two, 2), 2u);
    EXPECT_EQ(two[0], 'a');
    EXPECT_EQ(two[1], 'b');
    EXPECT_TRUE(codec.HasData());
    codec.DiscardData();
    EXPECT_FALSE(codec.HasData());
    EXPECT_EQ(codec.TakeData(two, 2), 0u);
}

// What ser2net 4.3 with a telnet(rfc2217) accepter on a pseudo-terminal sent, recorded: its own offers
// (ECHO among them, which is declined) and a modem-state notification, then the answers to the line
// settings, none to DTR and RTS.
TEST(Rfc2217Codec, ReachesReadyWithTheStreamRecordedFromSer2net) {
    const Bytes opening = {0xff, 0xfb, 0x03, 0xff, 0xfd, 0x03, 0xff, 0xfb, 0x01, 0xff, 0xfe,
                           0x01, 0xff, 0xfd, 0x00, 0xff, 0xfb, 0x00, 0xff, 0xfd, 0x2c, 0xff,
                           0xfd, 0x03, 0xff, 0xfa, 0x2c, 0x6b, 0x00, 0xff, 0xf0};
    const Bytes answers = {0xff, 0xfa, 0x2c, 0x65, 0x00, 0x00, 0x25, 0x80, 0xff, 0xf0, 0xff, 0xfa, 0x2c,
                           0x66, 0x08, 0xff, 0xf0, 0xff, 0xfa, 0x2c, 0x67, 0x01, 0xff, 0xf0, 0xff, 0xfa,
                           0x2c, 0x68, 0x01, 0xff, 0xf0, 0xff, 0xfa, 0x2c, 0x69, 0x01, 0xff, 0xf0};
    Rfc2217Codec codec(LineSettings{});
    codec.Start();
    (void)codec.TakeOutgoing();
    Feed(codec, opening, 7);
    EXPECT_EQ(codec.TakeOutgoing(), Cat({{IAC, DONT, 1}, kLineSettings}));
    Feed(codec, answers, 5);
    EXPECT_EQ(codec.State(), Rfc2217Codec::Negotiation::Ready);
    EXPECT_FALSE(codec.HasData());
}

} // namespace
} // namespace tessor
