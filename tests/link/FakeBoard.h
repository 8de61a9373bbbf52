#pragma once

// A scripted board for the transport tests: answers each command line in the console's reply format
// from a register map, records the wire traffic, and can go silent or hang up.

#include "link/SerialDevice.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace tessor::test {

class FakeBoard : public SerialDevice {
public:
    // Returns the reply bytes for one command line (without its line feed); empty for no reply. Runs
    // under the board's lock: it must not call back into the board.
    using Responder = std::function<std::string(const std::string& command)>;

    FakeBoard() {
        responder = [this](const std::string& c) { return StandardReply(c); };
    }

    IoResult Write(const std::uint8_t* data, std::size_t len) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_hungUp)
            return {IoResult::HungUp, EIO, 0};
        if (failWrites > 0) {
            --failWrites;
            return {IoResult::Error, EIO, 0};
        }
        for (std::size_t i = 0; i < len; ++i) {
            const char c = static_cast<char>(data[i]);
            m_wire += c;
            if (c != '\n') {
                m_line += c;
                continue;
            }
            if (!m_replyQueue.empty())
                overlapped = true; // a new command while the last reply is still unread
            commands.push_back(m_line);
            if (!silent)
                Queue(responder(m_line));
            if (hangUpOnNextCommand.exchange(false)) {
                m_hungUp = true;
                m_cv.notify_all();
            }
            m_line.clear();
        }
        return {IoResult::Ok, 0, len};
    }

    IoResult Read(std::uint8_t* data, std::size_t len) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return !m_replyQueue.empty() || m_interrupted || m_hungUp; });
        if (m_interrupted)
            return {IoResult::Interrupted, 0, 0};
        if (m_replyQueue.empty())
            return {IoResult::HungUp, EIO, 0};
        std::size_t n = 0;
        while (n < len && !m_replyQueue.empty()) {
            data[n++] = static_cast<std::uint8_t>(m_replyQueue.front());
            m_replyQueue.pop_front();
        }
        return {IoResult::Ok, 0, n};
    }

    bool Purge() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_replyQueue.clear();
        return true;
    }

    void Interrupt() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_interrupted = true;
        m_cv.notify_all();
    }

    // Bytes arriving from the board unasked (a prompt after a reset, noise).
    void Inject(const std::string& bytes) {
        std::lock_guard<std::mutex> lock(m_mutex);
        Queue(bytes);
    }

    void HangUp() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hungUp = true;
        m_cv.notify_all();
    }

    std::string Wire() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_wire;
    }

    std::vector<std::string> Commands() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return commands;
    }

    // Register values; a queue of scripted values per register is served first.
    std::map<std::string, int> regs;
    std::map<std::string, std::deque<int>> script;
    // Registers whose writes do not stick (a mailbox that is consumed at once).
    std::set<std::string> volatileRegs;
    Responder responder;
    std::atomic<bool> silent{false};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> hangUpOnNextCommand{false};
    // The next this many writes fail with EIO, nothing sent; the device stays usable.
    std::atomic<int> failWrites{0};

    std::string StandardReply(const std::string& c) {
        const std::string word = c.substr(0, 2);
        const std::string addr = c.substr(3, 4);
        std::string data;
        if (word == "RD") {
            const int count = c.size() > 8 && c[7] == ',' ? c[8] - '0' : 1;
            data = "\r" + addr + ":";
            unsigned base = static_cast<unsigned>(std::stoul(addr, nullptr, 16));
            for (int i = 0; i < count; ++i) {
                char reg[5];
                std::snprintf(reg, sizeof reg, "%04X", base + static_cast<unsigned>(i));
                char field[4];
                std::snprintf(field, sizeof field, " %02X", static_cast<unsigned>(NextValue(reg)) & 0xFFu);
                data += field;
            }
        } else {
            const int value = static_cast<int>(std::stoul(c.substr(8, 2), nullptr, 16));
            if (volatileRegs.count(addr))
                return c + "\n\n\rL>";
            int& reg = regs[addr];
            reg = word == "WR" ? value : word == "OR" ? (reg | value) : (reg & value);
        }
        return c + "\n" + data + "\n\rL>";
    }

private:
    int NextValue(const std::string& reg) {
        auto it = script.find(reg);
        if (it != script.end() && !it->second.empty()) {
            const int v = it->second.front();
            it->second.pop_front();
            return v;
        }
        return regs[reg];
    }

    void Queue(const std::string& bytes) {
        for (char b : bytes)
            m_replyQueue.push_back(b);
        m_cv.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<char> m_replyQueue;
    std::string m_wire;
    std::string m_line;
    std::vector<std::string> commands;
    bool m_interrupted = false;
    bool m_hungUp = false;
};

} // namespace tessor::test
