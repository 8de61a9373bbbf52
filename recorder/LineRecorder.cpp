#include "recorder/LineRecorder.h"

#include "files/PlainFile.h"
#include "model/RawCounts.h"
#include "recorder/RecordingFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

namespace tessor::rec {

namespace {

constexpr std::uint16_t kLineUpMask = 1u << kIndFullConstellation | 1u << kIndReducedConstellation;

bool Known(const PhySample& s, int indicator) {
    return (s.values.indicatorsKnown & 1u << indicator) != 0;
}

bool Set(const PhySample& s, int indicator) {
    return (s.values.indicators & 1u << indicator) != 0;
}

} // namespace

std::size_t LineStore::BytesUsed() const {
    std::size_t bytes = phy.BytesReserved() + eth.BytesReserved() + events.capacity() * sizeof(Event);
    for (const Event& e : events)
        bytes += e.text.capacity() > 15 ? e.text.capacity() + 1 : 0;
    return bytes;
}

bool CounterRate(const LineStore& store, std::size_t index, int counter, double* perSecond) {
    if (index == 0 || index >= store.eth.size())
        return false;
    const EthSample& s = store.eth[index];
    const EthSample& before = store.eth[index - 1];
    const std::uint16_t bit = static_cast<std::uint16_t>(1u << counter);
    if (s.afterGap || !s.answered || !before.answered || (s.failedReads & bit) || (before.failedReads & bit))
        return false;
    const std::optional<double> rate =
        PerSecondBetween(s.reads[static_cast<std::size_t>(counter)], before.time.monoMs, s.time.monoMs);
    if (!rate)
        return false;
    *perSecond = *rate;
    return true;
}

std::optional<std::int32_t> RsCentiRate(const PhySample& s, const PhySample& before) {
    const std::optional<std::uint32_t>& count = s.values.registers.rsCorrected;
    if (s.afterGap || !s.answered || !before.answered || !count || !before.values.registers.rsCorrected)
        return std::nullopt;
    return CentiPerSecondBetween(*count, before.time.monoMs, s.time.monoMs);
}

CLineRecorder::CLineRecorder(std::int64_t nominalIntervalMs) {
    // A sample may come late by a pass or so; one missing altogether makes a gap.
    m_store.gapMs = std::max<std::int64_t>(nominalIntervalMs * 12 / 5, 1000);
}

CLineRecorder::~CLineRecorder() {
    std::lock_guard<std::mutex> lock(m_mutex);
    WriteHeld(true); // the classes still open are the ones they would keep if the line stayed as it is
}

void CLineRecorder::MarkGap(SampleTime time, SampleTime previous, bool havePrevious, bool* afterGap) const {
    *afterGap = !havePrevious || time.wallMs - previous.wallMs > m_store.gapMs ||
                time.monoMs < previous.monoMs || m_gapPending;
}

void CLineRecorder::WriteRow(RowKind kind, std::size_t index, bool waiting) {
    if (!m_writer)
        return;
    if (waiting || !m_held.empty()) {
        m_held.push_back(HeldRow{kind, index, waiting});
        return;
    }
    WriteNow(kind, index);
}

void CLineRecorder::WriteNow(RowKind kind, std::size_t index) {
    std::string error;
    const bool ok = kind == RowKind::Phy   ? m_writer->WritePhy(m_store, index, &error)
                    : kind == RowKind::Eth ? m_writer->WriteEth(m_store, index, &error)
                                           : m_writer->WriteEvent(m_store.events[index], &error);
    if (!ok)
        WriteFailed(error); // drops the held rows
}

void CLineRecorder::WriteHeld(bool all) {
    while (m_writer && !m_held.empty() && (all || !m_held.front().waiting)) {
        const HeldRow row = m_held.front();
        m_held.pop_front();
        WriteNow(row.kind, row.index);
    }
}

std::size_t CLineRecorder::AddPhy(const PhySample& input, bool classFinal) {
    std::lock_guard<std::mutex> lock(m_mutex);
    PhySample sample = input;
    const bool have = !m_store.phy.empty();
    MarkGap(sample.time, have ? m_store.phy.back().time : SampleTime{}, have, &sample.afterGap);
    if (sample.answered && m_noAnswer) {
        m_noAnswer = false;
        AddEvent(sample.time, EventKind::AnsweringAgain, "Board answering again");
    }
    if (sample.answered)
        m_gapPending = false;
    if (have)
        sample.rsCentiPerSecond = RsCentiRate(sample, m_store.phy.back());
    m_store.phy.push_back(sample);
    const std::size_t index = m_store.phy.size() - 1;
    WriteRow(RowKind::Phy, index, !classFinal);
    if (sample.answered)
        DerivePhyEvents(sample);
    Touch();
    return index;
}

void CLineRecorder::SetIntervalClass(std::size_t index, IntervalClass value, bool final) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (index >= m_store.phy.size())
        return;
    m_store.phy[index].intervalClass = value;
    if (final) {
        for (HeldRow& row : m_held) {
            if (row.kind == RowKind::Phy && row.index == index)
                row.waiting = false;
        }
        WriteHeld(false);
    }
    Touch();
}

void CLineRecorder::DerivePhyEvents(const PhySample& s) {
    const bool first = !m_havePhy;
    const PhySample& prev = m_lastPhy;
    // Line state: 8C71 bits 7 and 6.
    if (Known(s, kIndFullConstellation)) {
        const bool up = (s.values.indicators & kLineUpMask) != 0;
        const bool wasUp =
            !first && Known(prev, kIndFullConstellation) && (prev.values.indicators & kLineUpMask) != 0;
        const bool wasKnown = !first && Known(prev, kIndFullConstellation);
        if (up && (!wasUp || !wasKnown)) {
            AddEvent(s.time, EventKind::LineUp,
                     Set(s, kIndFullConstellation) ? "Line up (full constellation)"
                                                   : "Line up (reduced constellation)");
        } else if (!up && (wasUp || !wasKnown)) {
            AddEvent(s.time, EventKind::LineDown, "No DSL connection: line down");
        }
    }
    const std::optional<std::uint8_t>& count = s.values.linkFailCount;
    const std::optional<std::uint8_t>& before = prev.values.linkFailCount;
    if (!first && count && before && *count != *before) {
        const int increase = WrappedIncrease(*before, *count);
        AddEvent(s.time, EventKind::LinkFail,
                 "Link fail counter " + std::to_string(*before) + " -> " + std::to_string(*count) + " (+" +
                     std::to_string(increase) + ")");
    }
    // Micro interruption is latched and cleared by the read: every pass that sees it is one.
    if (Known(s, kIndMicroInterruption) && Set(s, kIndMicroInterruption))
        AddEvent(s.time, EventKind::MicroInterruption, "Micro interruption occurred");
    if (Known(s, kIndAdcSaturation) && Set(s, kIndAdcSaturation) &&
        (first || !Known(prev, kIndAdcSaturation) || !Set(prev, kIndAdcSaturation)))
        AddEvent(s.time, EventKind::AdcSaturation, "ADC saturation");
    if (!first) {
        for (int i = 0; i < kIndicatorCount; ++i) {
            if (i == kIndMicroInterruption || !Known(s, i) || !Known(prev, i) || Set(s, i) == Set(prev, i))
                continue;
            AddEvent(s.time, EventKind::Indicator,
                     std::string(IndicatorLabel(i)) + (Set(s, i) ? ": on" : ": off"));
        }
    }
    // What this pass did not read stays as last known, so no event is ever derived from an unknown value.
    PhySample known = s;
    for (int i = 0; i < kIndicatorCount; ++i) {
        const std::uint16_t bit = static_cast<std::uint16_t>(1u << i);
        if (!Known(s, i) && !first && Known(prev, i)) {
            PhyValues& v = known.values;
            v.indicatorsKnown = static_cast<std::uint16_t>(v.indicatorsKnown | bit);
            v.indicators = static_cast<std::uint16_t>((v.indicators & ~bit) | (prev.values.indicators & bit));
        }
    }
    if (!count && !first)
        known.values.linkFailCount = before;
    m_lastPhy = known;
    m_havePhy = true;
}

void CLineRecorder::AddEth(const EthSample& input) {
    std::lock_guard<std::mutex> lock(m_mutex);
    EthSample sample = input;
    const bool have = !m_store.eth.empty();
    MarkGap(sample.time, have ? m_store.eth.back().time : SampleTime{}, have, &sample.afterGap);
    if (sample.answered && m_noAnswer) {
        m_noAnswer = false;
        AddEvent(sample.time, EventKind::AnsweringAgain, "Board answering again");
    }
    // An answered sample of either kind closes a no-answer gap.
    if (sample.answered)
        m_gapPending = false;
    m_store.eth.push_back(sample);
    WriteRow(RowKind::Eth, m_store.eth.size() - 1);
    Touch();
}

void CLineRecorder::AddEvent(SampleTime time, EventKind kind, std::string text) {
    m_store.events.push_back(Event{time, kind, std::move(text)});
    WriteRow(RowKind::Event, m_store.events.size() - 1);
}

void CLineRecorder::WriteFailed(const std::string& message) {
    // Recording stops; what is in memory stays, and the journal says why.
    m_writer.reset();
    m_held.clear();
    m_failure = message + " Recording to the file has stopped.";
    m_store.events.push_back(Event{Now(), EventKind::Recording, "Recording stopped: " + message});
}

void CLineRecorder::NoteAction(Action action, const std::string& detail) {
    NoteAction(Now(), action, detail);
}

void CLineRecorder::NoteAction(SampleTime time, Action action, const std::string& detail) {
    std::lock_guard<std::mutex> lock(m_mutex);
    AddEvent(time, EventKind::Action, ActionText(action, detail));
    Touch();
}

void CLineRecorder::NoteNoAnswer(SampleTime time) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_noAnswer)
        AddEvent(time, EventKind::NoAnswer, "Board not answering: Hardware does not respond");
    m_noAnswer = true;
    m_gapPending = true;
    Touch();
}

void CLineRecorder::NoteAnswer(SampleTime time, bool retry) {
    std::lock_guard<std::mutex> lock(m_mutex);
    AddEvent(time, retry ? EventKind::Retry : EventKind::Cancel, retry ? "RETRY" : "CANCEL");
    Touch();
}

void CLineRecorder::NoteRecording(SampleTime time, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    AddEvent(time, EventKind::Recording, text);
    Touch();
}

bool CLineRecorder::StartRecording(const std::string& path, std::string* error) {
    return Begin(path, true, error);
}

bool CLineRecorder::ContinueRecording(const std::string& path, std::string* error) {
    return Begin(path, false, error);
}

bool CLineRecorder::Begin(const std::string& path, bool announce, std::string* error) {
    auto writer = CRecordingWriter::Open(path, error);
    if (!writer)
        return false;
    StartRecording(std::move(writer), announce);
    if (!IsRecording()) {
        *error = TakeRecordingFailure();
        return false;
    }
    return true;
}

void CLineRecorder::StartRecording(std::unique_ptr<CRecordingWriter> writer, bool announce) {
    std::lock_guard<std::mutex> lock(m_mutex);
    WriteHeld(true); // what belongs to the file before
    m_writer = std::move(writer);
    m_failure.clear();
    if (m_writer->CutRowNote()) // in the file already
        m_store.events.push_back(*m_writer->CutRowNote());
    if (announce)
        AddEvent(Now(), EventKind::Recording, "Recording to " + m_writer->Path());
    Touch();
}

void CLineRecorder::StopRecording() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_writer)
        return;
    WriteHeld(true);
    AddEvent(Now(), EventKind::Recording, "Recording to " + m_writer->Path() + " stopped");
    m_writer.reset();
    Touch();
}

bool CLineRecorder::IsRecording() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writer != nullptr;
}

std::string CLineRecorder::RecordingPath() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writer ? m_writer->Path() : std::string();
}

std::string CLineRecorder::TakeRecordingFailure() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string failure;
    failure.swap(m_failure);
    return failure;
}

bool CLineRecorder::Load(const std::string& path, std::string* error) {
    LineStore loaded;
    if (!ReadRecording(path, &loaded, error))
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_store = std::move(loaded);
    m_writer.reset();
    m_held.clear();
    m_havePhy = false;
    m_noAnswer = false;
    m_gapPending = false;
    Touch();
    return true;
}

bool CLineRecorder::ExportCsv(const std::string& path, std::string* error) const {
    std::string text = RecordingHeader() + "\n";
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Room for all rows at once, judged by the length of the first row of each kind.
        std::string probe;
        std::size_t phyRow = 0, ethRow = 0;
        if (!m_store.phy.empty()) {
            AppendPhyRow(m_store, 0, &probe);
            phyRow = probe.size();
        }
        if (m_store.eth.size() > 1) {
            probe.clear();
            AppendEthRow(m_store, m_store.eth.size() - 1, &probe);
            ethRow = probe.size();
        }
        text.reserve((m_store.phy.size() * phyRow + m_store.eth.size() * ethRow) * 11 / 10 +
                     m_store.events.size() * 160);
        // Rows in time order: the three sequences merged by wall time.
        std::size_t p = 0, e = 0, v = 0;
        const std::int64_t kEnd = std::numeric_limits<std::int64_t>::max();
        for (;;) {
            const std::int64_t tp = p < m_store.phy.size() ? m_store.phy[p].time.wallMs : kEnd;
            const std::int64_t te = e < m_store.eth.size() ? m_store.eth[e].time.wallMs : kEnd;
            const std::int64_t tv = v < m_store.events.size() ? m_store.events[v].time.wallMs : kEnd;
            if (tp == kEnd && te == kEnd && tv == kEnd)
                break;
            // At the same moment: a PHY pass, then the events derived from it, then a counter pass.
            if (tp <= te && tp <= tv)
                AppendPhyRow(m_store, p++, &text);
            else if (tv <= te)
                AppendEventRow(m_store.events[v++], &text);
            else
                AppendEthRow(m_store, e++, &text);
        }
    }
    int err = 0;
    if (!ReplacePlainFileContents(path, text.data(), text.size(), &err)) {
        *error = err == kPlainFileNotRegular
                     ? FileErrorText(path, err, "write")
                     : "Writing " + path + " failed: " + std::strerror(err) + ". Nothing was changed.";
        return false;
    }
    return true;
}

void CLineRecorder::Read(const std::function<void(const LineStore&)>& read) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    read(m_store);
}

std::size_t CLineRecorder::BytesUsed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_store.BytesUsed() + sizeof(*this);
}

} // namespace tessor::rec
