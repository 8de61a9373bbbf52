#pragma once

#include "model/Modem.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <vector>

namespace tessor::sim {

struct SimConfig {
    // The modem at the console end of the cable (LT or NT; unknown is taken as LT); the other one is
    // reached through its mailbox.
    ModemSide localSide = kSideLT;
    // Time the line needs to train once both modems are ready with matching configurations.
    int trainMs = 3000;
    // A mailbox operation completes with the n-th console command after its start, counted only while the
    // line is up (the completion status reads are those commands).
    int mailboxCompleteAfter = 1;
    // Time only moves through AdvanceTime(); otherwise it follows the steady clock.
    bool manualClock = false;
    // Signal-to-noise ratio of the simulated line, in dB, before jitter.
    double lineSnrDb = 36.5;
    std::uint32_t seed = 0x7E55;
    // Simulated time runs this many times faster than the steady clock (not with manualClock).
    double clockScale = 1.0;
    // A line that lives, off by default (the flat line). All of it is drawn from the seed, one step per
    // simulated second, so a run repeats exactly.
    struct LineLife {
        // The SNR wanders slowly around lineSnrDb, with this typical excursion in dB.
        bool drift = false;
        double driftDb = 2.0;
        // Bursts of corrected RS errors, started at random at this mean rate.
        double burstsPerHour = 0;
        // Drops of an up line, at random at this mean rate; the line retrains at once.
        double dropsPerHour = 0;
    } life;
};

// Registers and counters of one modem. CSimModemPair gives them their behaviour.
struct CSimModem {
    static constexpr int kRegisterCount = 0x10000;

    explicit CSimModem(ModemSide s) : side(s), regs(kRegisterCount, 0) {}

    ModemSide side;
    std::vector<std::uint8_t> regs;
    std::array<std::uint32_t, 16> ethCounters{};
    std::array<double, 16> ethFraction{};
    std::uint32_t rsCorrected = 0;
    double rsFraction = 0;
    // Value of a 4-byte counter, taken when its lowest byte was read and returned for the other three.
    std::array<std::uint8_t, 4> latch{};
    std::uint16_t latchBase = 0;
    bool microInterruption = false;
    // Mailbox: operation under way (1..4, 0 none) and the console commands seen since it started.
    int mailboxOp = 0;
    int mailboxCount = 0;
};

// The simulated LT and NT modems joined by their line: register semantics, line training, the remote
// access mailbox, PHY values and traffic counters. Not thread-safe; CSimulator and CPtyServer serialise
// access.
class CSimModemPair {
public:
    // The local modem and the remote one, numbered as the operations address them.
    using Unit = Target;
    static constexpr Unit kLocal = tessor::kLocal;
    static constexpr Unit kRemote = tessor::kRemote;
    enum class LineState { Down, Training, Up };

    explicit CSimModemPair(const SimConfig& config);

    const SimConfig& Config() const { return m_config; }
    ModemSide LocalSide() const { return m_config.localSide; }

    // Both modems as after power-up: factory configuration, counters zero, line training.
    void PowerUp();

    // Console-visible access with side effects (clear-on-read, restart, mailbox start).
    std::uint8_t ReadRegister(Unit unit, std::uint16_t address);
    void WriteRegister(Unit unit, std::uint16_t address, std::uint8_t value);
    // What a read would return, without its side effects.
    std::uint8_t PeekRegister(Unit unit, std::uint16_t address) const;

    // Called by the console once per command before it is carried out: brings the model up to the current
    // time and lets a pending mailbox operation progress.
    void BeginCommand();

    // Moves time to the clock's current value.
    void Sync();
    // Manual clock only: lets ms milliseconds pass.
    void AdvanceTime(std::uint64_t ms);
    std::uint64_t NowMs() const;

    LineState GetLineState() const { return m_line; }
    bool IsLineUp() const { return m_line == LineState::Up; }
    // Train with the reduced instead of the full constellation (8C71 bit 6 instead of bit 7).
    void SetReducedConstellation(bool reduced);

    // The living line, switchable while running.
    void SetDrift(bool on);
    void SetBurstsPerHour(double rate);
    void SetDropsPerHour(double rate);
    // A burst of corrected RS errors starting now, for seconds of simulated time.
    void StartBurst(int seconds);
    // The line drops now, times times at once (the link fail counter advances by that many), and retrains.
    void DropLine(int times = 1);
    // The line is held down (as with the cable pulled) until released; then it trains again.
    void SetLineCut(bool cut);
    bool LineCut() const { return m_cut; }
    // Current SNR offset of the drift, in dB, and the corrected errors per second of a burst under way.
    double DriftDb() const { return m_driftDb; }
    double BurstRate() const { return m_burstSecondsLeft > 0 ? m_burstRate : 0; }

    // Test and demonstration hooks.
    CSimModem& Modem(Unit unit) { return m_modems[Slot(unit)]; }
    const CSimModem& Modem(Unit unit) const { return m_modems[Slot(unit)]; }
    void SetCounter(Unit unit, std::uint16_t address, std::uint32_t value);
    std::uint32_t Counter(Unit unit, std::uint16_t address) const;
    // Whether address is the first register of a clear-on-read counter (8C91, 8CE4, 8CE8, ...).
    static bool IsCounterStart(std::uint16_t address);
    // The counter starting at address reads exactly count at each read, on both modems; null restores
    // normal counting. Ignored for an address that starts no counter.
    void FixCount(std::uint16_t address, std::optional<std::uint32_t> count);
    // Soft reset as bit 5 of 8C00 triggers it.
    void Restart(Unit unit);

    // Receiver error value (8C99..8C9B) that gives snrDb for the constellation code received.
    static std::uint32_t ErrorValueForSnr(int constellationCode, double snrDb);
    // Whether a line configuration byte names a constellation with an interpolation it allows.
    static bool IsValidLineConfig(std::uint8_t value);

private:
    void Advance(std::uint64_t nowMs);
    void AdvanceTo(std::uint64_t nowMs);
    bool LifeActive() const;
    void LifeStep();
    void Evaluate();
    void FailLine();
    // Where a modem is kept: the local one first.
    static std::size_t Slot(Unit unit) { return unit == kRemote ? 1 : 0; }
    bool Ready(Unit unit) const;
    bool Compatible() const;
    void Accumulate(CSimModem& modem, std::uint64_t ms);
    void CompleteMailbox(Unit unit);
    std::uint8_t ComputedRegister(Unit unit, std::uint16_t address, bool* computed) const;
    static bool IsReadOnly(std::uint16_t address);
    double Jitter(double spread);

    SimConfig m_config;
    std::array<CSimModem, 2> m_modems;
    LineState m_line = LineState::Down;
    std::uint64_t m_trainStart = 0;
    std::uint64_t m_upSince = 0;
    bool m_reduced = false;
    std::uint64_t m_now = 0;
    std::uint64_t m_manualNow = 0;
    std::uint64_t m_clockOrigin = 0;
    std::uint64_t m_lastJitter = 0;
    double m_snrJitter = 0;
    int m_levelJitter = 0;
    std::mt19937 m_random;
    // The living line: its own random stream, so that the flat line's draws stay as they are.
    std::mt19937 m_lifeRandom;
    std::uint64_t m_lifeNext = 0;
    double m_driftDb = 0;
    int m_burstSecondsLeft = 0;
    double m_burstRate = 0;
    bool m_cut = false;
    // Counters that read a fixed count at each read, by first register.
    std::map<std::uint16_t, std::uint32_t> m_fixedCounts;
};

} // namespace tessor::sim
