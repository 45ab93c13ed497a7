#include "platform/secrets/SecretStoreSet.h"

#include "pairing/PairingKeychain.h"

#include <utility>

namespace corvane {

namespace {

bool isSuccess(std::int32_t status) {
    return status == SecretStatus::success;
}

// Removing what is not there is a removal all the same.
bool isGone(std::int32_t status) {
    return status == SecretStatus::success || status == SecretStatus::itemNotFound;
}

// The note, in the files, that the keyring still owes the removal of `item`.
SecretItem removalNote(const SecretItem& item) {
    return SecretItem{item.service, item.account + "#remove-from-keyring"};
}

} // namespace

SecretStoreSet::SecretStoreSet(std::shared_ptr<SecretStore> keyring,
                               std::shared_ptr<SecretStore> files, InUse inUse)
    : keyring_(std::move(keyring)), files_(std::move(files)), inUse_(inUse) {}

const std::shared_ptr<SecretStore>& SecretStoreSet::inUse() const {
    return inUse_ == InUse::keyring ? keyring_ : files_;
}

SecretLookup SecretStoreSet::copyMatching(const SecretItem& item) {
    if (const std::int32_t status = settlePendingRemoval(item); !isSuccess(status)) {
        return SecretLookup{status, {}};
    }
    SecretLookup lookup = inUse()->copyMatching(item);
    lookup.status = outcome(lookup.status, inUse());
    return lookup;
}

std::int32_t SecretStoreSet::update(const SecretItem& item, const Bytes& data) {
    if (const std::int32_t status = settlePendingRemoval(item); !isSuccess(status)) {
        return status;
    }
    return outcome(inUse()->update(item, data), inUse());
}

std::int32_t SecretStoreSet::add(const SecretItem& item, const Bytes& data) {
    if (const std::int32_t status = settlePendingRemoval(item); !isSuccess(status)) {
        return status;
    }
    return outcome(inUse()->add(item, data), inUse());
}

std::int32_t SecretStoreSet::remove(const SecretItem& item) {
    const std::int32_t status = outcome(inUse()->remove(item), inUse());
    if (!isGone(status)) {
        return status;
    }
    const std::int32_t elsewhere = removeFromOtherStore(item);
    return isGone(elsewhere) ? status : elsewhere;
}

std::optional<std::string> SecretStoreSet::errorMessage(std::int32_t status) const {
    const auto found = failedIn_.find(status);
    const std::shared_ptr<SecretStore>& from = found != failedIn_.end() ? found->second : inUse();
    return from->errorMessage(status);
}

std::int32_t SecretStoreSet::settlePendingRemoval(const SecretItem& item) {
    if (inUse_ != InUse::keyring || !files_) {
        return SecretStatus::success;
    }
    const SecretItem note = removalNote(item);
    const std::int32_t noted = outcome(files_->copyMatching(note).status, files_);
    if (noted == SecretStatus::itemNotFound) {
        return SecretStatus::success;
    }
    if (!isSuccess(noted)) {
        return noted;
    }
    if (const std::int32_t removed = outcome(keyring_->remove(item), keyring_); !isGone(removed)) {
        return removed;
    }
    // A note left behind would remove the next pairings too.
    const std::int32_t cleared = outcome(files_->remove(note), files_);
    return isGone(cleared) ? SecretStatus::success : cleared;
}

std::int32_t SecretStoreSet::removeFromOtherStore(const SecretItem& item) {
    if (inUse_ == InUse::keyring) {
        return files_ ? outcome(files_->remove(item), files_) : SecretStatus::success;
    }
    if (!keyring_) {
        return SecretStatus::success;
    }
    const std::int32_t removed = outcome(keyring_->remove(item), keyring_);
    if (isGone(removed)) {
        return removed;
    }
    // The keyring is not running here (a console, SSH): it may still hold the item, and would
    // hand its tokens out again at the next desktop login.
    const SecretItem note = removalNote(item);
    const auto noted = PairingKeychain(files_).write({}, note.service, note.account);
    return noted ? SecretStatus::success : outcome(noted.error().status(), files_);
}

std::int32_t SecretStoreSet::outcome(std::int32_t status,
                                     const std::shared_ptr<SecretStore>& from) {
    if (!isGone(status)) {
        failedIn_[status] = from;
    }
    return status;
}

} // namespace corvane
