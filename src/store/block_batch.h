#pragma once

#include "store/fn_block.h"
#include "store/record_list.h"

#include <QString>

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One field of FNBlock as its list gives it, with what reading it needs.
struct BlockSlot {
    std::string_view key;
    QString FNBlock::*text = nullptr;
    qint64 FNBlock::*number = nullptr;
    QDateTime FNBlock::*date = nullptr;
    std::optional<QDateTime> FNBlock::*maybeDate = nullptr;
    bool repeats = false; // the same few values run through many blocks: decoded once, shared
};

inline constexpr size_t kBlockSlotCount = std::tuple_size_v<decltype(FNBlock::kFields)>;
extern const std::array<BlockSlot, kBlockSlotCount> kBlockSlots;

// Blocks read from a run of the blocks list, in order, and those left out.
struct BlockRun {
    RecordList<FNBlock> blocks;
    std::vector<std::pair<size_t, QString>> dropped; // index in the run and reason, in order
    size_t count = 0;                                // entries of the list the run covers, kept or not
};

// Blocks as the parser met them, their texts still UTF-8, for another thread to make into records:
// the parse goes on while the blocks before are decoded.
struct BlockBatch {
    static constexpr size_t kSize = 4096;

    enum class Slot : uint8_t {
        Absent, // missing or null
        Present,
        Failed, // of the wrong kind; `at` indexes `failures`
    };
    struct Record {
        size_t index = 0; // in the batch, for the reason of a drop
        int failure = -1; // indexes `failures` when the block is no object
        std::array<Slot, kBlockSlotCount> slots{};
        // A text or date: where its bytes are in `text`; a failed slot: its reason in `failures`.
        std::array<uint32_t, kBlockSlotCount> at{};
        std::array<uint32_t, kBlockSlotCount> size{};
        std::array<qint64, kBlockSlotCount> number{};
        std::array<const QString *, kBlockSlotCount> shared{}; // a repeating text, decoded once
        json::Damage damage = json::Damage::None;              // the first the block holds, read or not
    };

    std::vector<Record> records;
    std::string text;
    std::vector<QString> failures;

    // Reads every record as json::read<FNBlock> reads the same block: the first field in the list's
    // order that fails names the reason; a block whose fields all read but that holds damage is left
    // out for that.
    BlockRun decode() const;
};
