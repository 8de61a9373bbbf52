#pragma once

// What the line test asks of the board, each read with what happened to it. The operations layer's
// sequences do the reading; this seam only adds the outcome, so that the test never learns it from a value.

#include "ops/Board.h"
#include "ops/EthernetPass.h"
#include "ops/LinkSettings.h"
#include "ops/PhyPass.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace tessor::linetest {

// Each read carries the link's own outcome: the first failure of its sequence, or Answered.
// Text of an outcome for the journal and the report.
const char* OutcomeText(Outcome outcome);

struct SideRead {
    Outcome outcome = Outcome::NoAnswer;
    std::uint8_t side = kSideUnknown;
    std::optional<ops::PhyReferences> references;
};

struct IdentificationRead {
    Outcome outcome = Outcome::NoAnswer;
    ops::BoardIdentification id;
};

struct LinkSettingsRead {
    Outcome outcome = Outcome::NoAnswer;
    ops::LinkSettings settings;
};

struct PhyRead {
    Outcome outcome = Outcome::NoAnswer;
    ops::PhyPass pass; // as the pass rule decided it, with the references of the side read
};

struct EthernetRead {
    Outcome outcome = Outcome::NoAnswer;
    ops::EthernetPass pass;
};

class ILineTestBoard {
public:
    virtual ~ILineTestBoard() = default;
    // 8C70 and the references of the constellation the local modem receives; the PHY passes after it
    // are decoded with them.
    virtual SideRead ReadSide() = 0;
    // The line check of the other sequences; nothing when the board did not answer.
    virtual std::optional<bool> LineUp() = 0;
    // target 1 local, 2 remote (through the mailbox).
    virtual IdentificationRead ReadIdentification(int target) = 0;
    virtual LinkSettingsRead ReadLinkSettings(std::int32_t crystalHz, bool readRemoteSpeed) = 0;
    virtual PhyRead RunPhyPass() = 0;
    virtual EthernetRead RunEthernetPass() = 0;
    // The link has given up for good: no later read can reach the board.
    virtual bool Lost() const = 0;
};

// The board behind a register bus, read by the operations layer's sequences.
class COpsLineTestBoard : public ILineTestBoard {
public:
    explicit COpsLineTestBoard(IRegisterBus& bus) : m_bus(bus) {}

    SideRead ReadSide() override;
    std::optional<bool> LineUp() override;
    IdentificationRead ReadIdentification(int target) override;
    LinkSettingsRead ReadLinkSettings(std::int32_t crystalHz, bool readRemoteSpeed) override;
    PhyRead RunPhyPass() override;
    EthernetRead RunEthernetPass() override;
    bool Lost() const override;

private:
    // The outcome of a sequence whose results were these: the first failure decides.
    Outcome Classify(std::initializer_list<const RegResult*> results);
    Outcome Classify(const ops::PassOutcome& pass);

    IRegisterBus& m_bus;
    std::optional<ops::PhyReferences> m_references;
    bool m_lost = false; // a read was not answered or the device went: the board is not asked again
};

} // namespace tessor::linetest
