#include "ftp/IdAntiFreezeBase.h"

#include "base/IdException.h"

#include <atomic>

namespace {
std::atomic<TIdAntiFreezeBase*> gInstance{nullptr};
}

TIdAntiFreezeBase::TIdAntiFreezeBase() : mainThread_(std::this_thread::get_id()) {
    TIdAntiFreezeBase* expected = nullptr;
    if (!gInstance.compare_exchange_strong(expected, this))
        throw EIdException("Only one TIdAntiFreeze can exist per application.");
}

TIdAntiFreezeBase::~TIdAntiFreezeBase() {
    TIdAntiFreezeBase* self = this;
    gInstance.compare_exchange_strong(self, nullptr);
}

TIdAntiFreezeBase* TIdAntiFreezeBase::Instance() {
    return gInstance.load();
}

bool TIdAntiFreezeBase::InForce() {
    TIdAntiFreezeBase* instance = gInstance.load();
    return instance && instance->Active && std::this_thread::get_id() == instance->mainThread_;
}

void TIdAntiFreezeBase::KeepResponsive(bool idle, bool force) {
    if (!InForce())
        return;
    TIdAntiFreezeBase* instance = gInstance.load();
    if (idle || force || !instance->OnlyWhenIdle)
        instance->Process(instance->ApplicationHasPriority);
}
