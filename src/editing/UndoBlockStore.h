#pragma once

#include "UndoScratchFile.h"

#include "signal/SpectralMatrices.h"

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

namespace kalder
{

/**
    Keeps the mask and selection blocks of one undo history compactly.

    Each block is compressed without loss (RunLengthCodec: masks and selections are
    mostly runs of equal values) and kept in memory while the history's memory stays
    within its budget. Blocks whose code is larger than the spill size go to the
    history's scratch file at once; when the blocks in memory exceed the budget, the
    oldest of them move to the scratch file until the rest fits. A block comes back bit
    for bit whether it stayed in memory or not.

    A Block belongs to the action that stored it; destroying it gives its memory or
    its extent of the scratch file back. The store must outlive its blocks (the edit
    manager declares it before its undo history).

    Threading: one thread at a time (the history's: the message thread).
*/
class UndoBlockStore
{
public:
    struct Limits
    {
        /** Bytes of compressed blocks kept in memory. */
        size_t memoryBudgetBytes = 32u * 1024u * 1024u;
        /** Blocks whose code is at least this large go to the scratch file at once. */
        size_t spillBytes = 1024u * 1024u;
    };

    /** Bookkeeping bytes counted for each block besides its code. */
    static constexpr size_t blockOverheadBytes = 96;

    class Block
    {
    public:
        ~Block();

        int getNumRows() const noexcept { return rows; }
        int getNumColumns() const noexcept { return columns; }

        /** Bytes of the compressed code (in memory or in the scratch file). */
        size_t getCodeBytes() const noexcept { return codeWords * sizeof (std::uint32_t); }

        bool isInMemory() const noexcept { return fileOffset < 0; }

    private:
        friend class UndoBlockStore;
        Block (UndoBlockStore& s) : store (s) {}

        UndoBlockStore& store;
        int rows = 0, columns = 0;
        size_t codeWords = 0;
        std::vector<std::uint32_t> code; // while in memory
        std::int64_t fileOffset = -1;    // once spilled
        std::list<Block*>::iterator inMemoryPosition;
        bool listed = false;        // in the store's list of blocks in memory
        bool singleLiteral = false; // the code is one literal token: the values as they are

        JUCE_DECLARE_NON_COPYABLE (Block)
    };

    explicit UndoBlockStore (juce::File scratchFolder);
    UndoBlockStore (juce::File scratchFolder, Limits limits);
    ~UndoBlockStore();

    /** Compresses and keeps values. Returns nullptr when a block that has to go to the
        scratch file cannot be written there (the disk is full or refuses): the caller
        must then not rely on it. */
    std::unique_ptr<Block> store (const MaskMatrix& values);

    /** The values of a block; false (dest untouched or partly written) when its code
        cannot be read back. */
    bool load (const Block& block, MaskMatrix& dest) const;

    /** Bytes of codes held in memory, plus the bookkeeping of every block. */
    size_t getMemoryBytes() const noexcept { return memoryBytes; }

    /** Bytes of codes held in the scratch file. */
    std::int64_t getScratchBytes() const noexcept { return scratch.getLiveBytes(); }

    int getNumBlocks() const noexcept { return numBlocks; }
    int getNumBlocksInMemory() const noexcept { return (int) inMemory.size(); }

    const Limits& getLimits() const noexcept { return limits; }

private:
    bool spill (Block& block);
    void keepWithinBudget();
    void forget (Block& block);

    Limits limits;
    UndoScratchFile scratch;
    std::list<Block*> inMemory; // oldest first
    size_t memoryBytes = 0;
    int numBlocks = 0;

    JUCE_DECLARE_NON_COPYABLE (UndoBlockStore)
};

} // namespace kalder
