#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace tessor::rec {

// An append-only sequence stored in fixed blocks: growing never copies what is stored, and the memory
// used stays within one block of what the elements need (a vector may hold twice that while it grows).
// Elements are never changed once appended, so a shared view of the blocks (Share) can be read by another
// thread without a lock while this one grows: appending writes only past the view's end.
template <typename T, std::size_t BlockSize = 4096> class ChunkedVector {
public:
    ChunkedVector() = default;
    ChunkedVector(ChunkedVector&&) noexcept = default;
    ChunkedVector& operator=(ChunkedVector&&) noexcept = default;
    // Copies would share blocks that both then append to: Share is the explicit, read-only way.
    ChunkedVector(const ChunkedVector&) = delete;
    ChunkedVector& operator=(const ChunkedVector&) = delete;

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }

    void push_back(const T& value) {
        if (m_size == m_blocks.size() * BlockSize)
            m_blocks.push_back(std::make_shared<Block>());
        m_blocks[m_size / BlockSize]->items[m_size % BlockSize] = value;
        ++m_size;
    }

    const T& operator[](std::size_t i) const { return m_blocks[i / BlockSize]->items[i % BlockSize]; }
    T& operator[](std::size_t i) { return m_blocks[i / BlockSize]->items[i % BlockSize]; }
    const T& back() const { return (*this)[m_size - 1]; }

    void clear() {
        m_blocks.clear();
        m_size = 0;
    }

    // The elements there are now, sharing their blocks (kept alive by the view, even past a clear). Take
    // it under the lock that guards appending; read it as const only.
    ChunkedVector Share() const {
        ChunkedVector view;
        view.m_blocks = m_blocks;
        view.m_size = m_size;
        return view;
    }

    // Bytes held by the elements' blocks.
    std::size_t BytesReserved() const { return m_blocks.size() * sizeof(Block); }

private:
    struct Block {
        T items[BlockSize];
    };
    std::vector<std::shared_ptr<Block>> m_blocks;
    std::size_t m_size = 0;
};

} // namespace tessor::rec
