#pragma once

#include "bench_counting_relay.h"

#include "fake-service/fake_service.h"
#include "store/fn_block.h"
#include "support/test_device.h"

#include <QUrl>

#include <memory>
#include <optional>
#include <vector>

// A device of a new account that reaches the service through a counting relay, with a page of
// `blocks` lines, `spacing` apart, on the service: what the byte benches start from. Other clients
// number a page one apart when they renumber it.
struct RelayedPage {
    std::unique_ptr<CountingRelay> relay;
    std::unique_ptr<TestDevice> device;
    FNPage page;
    std::vector<QString> blockIDs; // in the page's order
};

// Empty when the relay or a sync fails.
inline std::optional<RelayedPage> relayedPage(FakeService &fake, const QString &email, const QString &name,
                                              int blocks, qint64 spacing = kBlockPositionGap)
{
    const FakeService::Account account = fake.createAccount(email, QStringLiteral("secret12"), name);
    RelayedPage out;
    out.relay = std::make_unique<CountingRelay>(quint16(QUrl(fake.origin()).port()));
    if (!out.relay->listen())
        return std::nullopt;
    out.device = std::make_unique<TestDevice>(out.relay->origin(), account.token);
    TestDevice &device = *out.device;
    out.page = device.addPage(account.workspaceId, QStringLiteral("Long page"));
    if (!device.sync())
        return std::nullopt;
    for (int i = 0; i < blocks; ++i)
        out.blockIDs.push_back(device
                                   .addBlock(out.page.localID,
                                             QStringLiteral("Line %1 of the page, a few words long").arg(i),
                                             qint64(i) * spacing)
                                   .localID);
    if (!device.queueBlockUpsert(out.page.localID) || !device.sync() || !device.sync())
        return std::nullopt;
    return out;
}
