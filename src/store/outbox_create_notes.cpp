#include "store/outbox.h"

#include "store/local_store.h"
#include "store/send_journal.h"

// What a create sends and what its answer says, noted beside the state as the send itself is.

void Outbox::createGoingOut(const QString &opLocalID, const QString &sentPayload)
{
    SendNote note;
    note.opLocalID = opLocalID;
    note.sent = sentPayload;
    m_store.m_sendJournal->append(note);
}

void Outbox::createAnswered(const QString &opLocalID, qint64 madeID)
{
    SendNote note;
    note.opLocalID = opLocalID;
    note.made = madeID;
    m_store.m_sendJournal->append(note);
}
