#pragma once

#include "fake-service/fake_content.h"

// Someone holding the "suggest" share on a page proposes rather than changes: each change they push
// (a block added, edited or removed, a new title) is kept as a pending suggestion, and they are
// answered as for a kept change. Pushing the same proposal again adds nothing.
class FakeSuggestRole
{
public:
    explicit FakeSuggestRole(FakeContent &content);

    bool suggestsOnly(qint64 userId, const FakeContent::Page &page) const;
    // The reply to a block set the suggester pushed for the page: acks as for a kept change; a block
    // proposed for adding gets the id it will have once accepted.
    HttpResponse proposeBlocks(qint64 userId, const FakeContent::Page &page,
                               const std::vector<FakeContent::BlockInput> &items);
    void proposeDelete(qint64 userId, const FakeContent::Block &block);
    void proposeTitle(qint64 userId, const FakeContent::Page &page, const QString &title);

private:
    // Keeps one proposal: a pending one of the same kind for the same block is brought up to date;
    // one equal to the suggester's last proposal there, decided or not, is not made again.
    void propose(qint64 userId, qint64 pageId, const QString &kind, qint64 blockId, const JSONObject &payload,
                 const QString &clientId = QString());

    FakeContent &m_content;
};
