#include "store/block_batch.h"

#include "json/json_coder.h"

namespace {

constexpr BlockSlot slotOf(const json::Field<FNBlock, QString> &f)
{
    const std::string_view key = f.key;
    return {.key = key,
            .text = f.member,
            .repeats = key == "pageLocalID" || key == "parentBlockLocalID" || key == "type"};
}
constexpr BlockSlot slotOf(const json::Field<FNBlock, qint64> &f)
{
    return {.key = f.key, .number = f.member};
}
constexpr BlockSlot slotOf(const json::Field<FNBlock, QDateTime> &f)
{
    return {.key = f.key, .date = f.member};
}
constexpr BlockSlot slotOf(const json::Field<FNBlock, std::optional<QDateTime>> &f)
{
    return {.key = f.key, .maybeDate = f.member};
}

QLatin1String keyOf(const BlockSlot &slot)
{
    return QLatin1String(slot.key.data(), qsizetype(slot.key.size()));
}

} // namespace

const std::array<BlockSlot, kBlockSlotCount> kBlockSlots = std::apply(
    [](const auto &...f) { return std::array<BlockSlot, kBlockSlotCount>{slotOf(f)...}; }, FNBlock::kFields);

BlockRun BlockBatch::decode() const
{
    BlockRun out;
    out.count = records.size();
    out.blocks.reserve(records.size());
    // Every field is assigned before a block is kept, so one scratch record serves them all.
    FNBlock block;
    for (const Record &r : records) {
        if (r.failure >= 0) {
            out.dropped.emplace_back(r.index, failures[size_t(r.failure)]);
            continue;
        }
        std::optional<QString> reason;
        for (size_t i = 0; i < kBlockSlotCount && !reason; ++i) {
            const BlockSlot &slot = kBlockSlots[i];
            const char *bytes = text.data() + r.at[i];
            switch (r.slots[i]) {
            case Slot::Absent:
                if (slot.maybeDate)
                    block.*slot.maybeDate = std::nullopt;
                else
                    reason = QStringLiteral("Missing key \"%1\"").arg(keyOf(slot));
                break;
            case Slot::Failed:
                reason = failures[r.at[i]];
                break;
            case Slot::Present:
                if (slot.number) {
                    block.*slot.number = r.number[i];
                } else if (slot.text) {
                    block.*slot.text =
                        r.shared[i] ? *r.shared[i] : QString::fromUtf8(bytes, qsizetype(r.size[i]));
                } else if (const auto date = json::parseDateUtf8(bytes, r.size[i])) {
                    if (slot.date)
                        block.*slot.date = *date;
                    else
                        block.*slot.maybeDate = *date;
                } else {
                    reason = QStringLiteral("\"%1\": %2")
                                 .arg(keyOf(slot), json::dateError(bytes, r.size[i]).message());
                }
                break;
            }
        }
        if (!reason && r.damage != json::Damage::None)
            reason = json::damagedError(r.damage).message();
        if (reason)
            out.dropped.emplace_back(r.index, *reason);
        else
            out.blocks.push_back(std::move(block));
    }
    return out;
}
