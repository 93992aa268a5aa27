#include "store/local_id.h"

#include <QRandomGenerator>

QString newLocalID()
{
    // From the securely seeded generator, not the system's: a first sync makes tens of thousands of
    // ids in a row, and the system source (RDRAND here) costs a third of applying a pulled block.
    quint64 bits[2] = {QRandomGenerator::global()->generate64(), QRandomGenerator::global()->generate64()};
    // A version 4 UUID: "4" leads the third group, 8 to B the fourth.
    bits[0] = (bits[0] & ~quint64(0xF000)) | 0x4000;
    bits[1] = (bits[1] & ~(quint64(0xC) << 60)) | (quint64(0x8) << 60);
    static constexpr char kHex[] = "0123456789ABCDEF";
    QString id(36, Qt::Uninitialized);
    QChar *out = id.data();
    int nibble = 0;
    for (int i = 0; i < 36; ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            out[i] = QLatin1Char('-');
            continue;
        }
        const quint64 word = bits[nibble / 16];
        out[i] = QLatin1Char(kHex[(word >> (60 - 4 * (nibble % 16))) & 0xF]);
        ++nibble;
    }
    return id;
}
