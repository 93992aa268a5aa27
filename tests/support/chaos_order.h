#pragma once

#include "support/chaos_check.h"

#include "fake-service/fake_service_state.h"
#include "store/fn_block.h"

#include <QString>

#include <array>
#include <vector>

class LocalStore;

// A page's live blocks as the device's editor lists them (listedBefore).
std::vector<const FNBlock *> chaosDeviceOrder(const LocalStore &store, const QString &pageLocalID);
// A page's blocks as the service lists them: by position, ties by id.
std::vector<const FakeServiceState::Block *> chaosServiceOrder(const FakeServiceState &service,
                                                               qint64 pageId);

// The order of every live page's blocks after settling. A wrong order is a loss like a lost text:
// (a) each device lists the page's blocks as the service does, at the service's positions, ties
// included; and (b) where the model knows the order the edits meant, the service has it.
//
// (b) is sound under concurrent edits because the run changes a page's order only on a copy that
// shows the meant order already (every insert, delete and move of the page the other device made
// has reached it, nothing it has not seen is in between): the change then has one meaning, and
// the other device's concurrent typing changes no place. A change made on a copy that was behind
// (an append at the end by a device that had not seen the other's last one) leaves the order
// unknown until both devices and the service hold the same blocks at the same places again.
void checkChaosOrders(const ChaosModel &model, const FakeServiceState &service,
                      const std::array<const LocalStore *, 2> &devices, ChaosFindings &findings);
