#pragma once

// A serial device that passes everything to another one and records, per command line written, how many
// bytes went out and how many came back before the next command, with the times of the first byte
// written and the last byte read.

#include "link/SerialDevice.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace tessor::bench {

struct Exchange {
    std::size_t written = 0;
    std::size_t read = 0;
    std::chrono::steady_clock::time_point sent;
    std::chrono::steady_clock::time_point lastRead;
};

// Shared between the decorator (worker thread) and the benchmark (caller thread).
class ExchangeLog {
public:
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_exchanges.clear();
        m_readCalls = 0;
    }
    std::vector<Exchange> Take() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Exchange> out;
        out.swap(m_exchanges);
        return out;
    }
    std::size_t ReadCalls() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_readCalls;
    }
    void Wrote(std::size_t n) {
        std::lock_guard<std::mutex> lock(m_mutex);
        Exchange e;
        e.written = n;
        e.sent = std::chrono::steady_clock::now();
        e.lastRead = e.sent;
        m_exchanges.push_back(e);
    }
    void Read(std::size_t n) {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_readCalls;
        if (m_exchanges.empty())
            m_exchanges.emplace_back(); // bytes that arrived before any command (a stray prompt)
        m_exchanges.back().read += n;
        m_exchanges.back().lastRead = now;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Exchange> m_exchanges;
    std::size_t m_readCalls = 0;
};

class CountingDevice : public SerialDevice {
public:
    CountingDevice(std::unique_ptr<SerialDevice> inner, std::shared_ptr<ExchangeLog> log)
        : m_inner(std::move(inner)), m_log(std::move(log)) {}

    IoResult Write(const std::uint8_t* data, std::size_t len) override {
        const IoResult r = m_inner->Write(data, len);
        if (r.ok())
            m_log->Wrote(len);
        return r;
    }
    IoResult Read(std::uint8_t* data, std::size_t len) override {
        const IoResult r = m_inner->Read(data, len);
        if (r.ok())
            m_log->Read(r.count);
        return r;
    }
    bool Purge() override { return m_inner->Purge(); }
    void Interrupt() override { m_inner->Interrupt(); }

private:
    std::unique_ptr<SerialDevice> m_inner;
    std::shared_ptr<ExchangeLog> m_log;
};

} // namespace tessor::bench
