#include "UndoBlockStore.h"
#include "RunLengthCodec.h"

namespace kalder
{

UndoBlockStore::Block::~Block()
{
    store.forget (*this);
}

UndoBlockStore::UndoBlockStore (juce::File scratchFolder) : UndoBlockStore (std::move (scratchFolder), Limits()) {}

UndoBlockStore::UndoBlockStore (juce::File scratchFolder, Limits l) : limits (l), scratch (std::move (scratchFolder)) {}

UndoBlockStore::~UndoBlockStore()
{
    jassert (numBlocks == 0); // blocks must go before their store
}

std::unique_ptr<UndoBlockStore::Block> UndoBlockStore::store (const MaskMatrix& values)
{
    std::unique_ptr<Block> block (new Block (*this));
    block->rows = (int) values.rows();
    block->columns = (int) values.cols();
    block->code = RunLengthCodec::encode (values.data(), (size_t) values.size());
    block->codeWords = block->code.size();
    // Values that do not compress are one literal: they can be read straight back.
    block->singleLiteral = values.size() > 0 && block->codeWords == (size_t) values.size() + 1
                           && block->code[0] == (std::uint32_t) ((size_t) values.size() << 1);
    ++numBlocks;
    memoryBytes += blockOverheadBytes;

    if (block->getCodeBytes() >= limits.spillBytes)
    {
        if (! spill (*block))
            return nullptr; // forgets the block
        return block;
    }

    block->inMemoryPosition = inMemory.insert (inMemory.end(), block.get());
    block->listed = true;
    memoryBytes += block->getCodeBytes();
    keepWithinBudget();
    return block;
}

bool UndoBlockStore::spill (Block& block)
{
    if (block.code.empty())
        return true; // an empty block has nothing to spill
    const auto offset = scratch.write (block.code.data(), block.getCodeBytes());
    if (offset < 0)
        return false;
    block.fileOffset = offset;
    block.code = {};
    return true;
}

void UndoBlockStore::keepWithinBudget()
{
    while (memoryBytes > limits.memoryBudgetBytes && ! inMemory.empty())
    {
        auto* oldest = inMemory.front();
        if (! spill (*oldest))
            return; // the disk refuses: keep it in memory rather than lose it
        inMemory.pop_front();
        oldest->listed = false;
        memoryBytes -= oldest->getCodeBytes();
    }
}

void UndoBlockStore::forget (Block& block)
{
    if (block.listed)
    {
        inMemory.erase (block.inMemoryPosition);
        memoryBytes -= block.getCodeBytes();
    }
    else if (! block.isInMemory())
    {
        scratch.release (block.fileOffset, block.getCodeBytes());
    }
    memoryBytes -= blockOverheadBytes;
    --numBlocks;
}

bool UndoBlockStore::load (const Block& block, MaskMatrix& dest) const
{
    dest.resize (block.rows, block.columns);
    const auto count = (size_t) dest.size();
    if (block.isInMemory())
        return RunLengthCodec::decode (block.code.data(), block.code.size(), dest.data(), count);

    if (block.singleLiteral)
        return scratch.read (block.fileOffset + (std::int64_t) sizeof (std::uint32_t), dest.data(), count * sizeof (float));

    std::unique_ptr<std::uint32_t[]> code (new std::uint32_t[block.codeWords]); // no need to clear it first
    return scratch.read (block.fileOffset, code.get(), block.getCodeBytes())
           && RunLengthCodec::decode (code.get(), block.codeWords, dest.data(), count);
}

} // namespace kalder
