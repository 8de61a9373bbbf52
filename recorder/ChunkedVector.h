#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace tessor::rec {

// An append-only sequence stored in fixed blocks: growing never copies what is stored, and the memory
// used stays within one block of what the elements need (a vector may hold twice that while it grows).
template <typename T, std::size_t BlockSize = 4096> class ChunkedVector {
public:
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }

    void push_back(const T& value) {
        if (m_size == m_blocks.size() * BlockSize)
            m_blocks.push_back(std::make_unique<Block>());
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

    // Bytes held by the elements' blocks.
    std::size_t BytesReserved() const { return m_blocks.size() * sizeof(Block); }

private:
    struct Block {
        T items[BlockSize];
    };
    std::vector<std::unique_ptr<Block>> m_blocks;
    std::size_t m_size = 0;
};

} // namespace tessor::rec
