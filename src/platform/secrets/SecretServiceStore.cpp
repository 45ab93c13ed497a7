#include "platform/secrets/SecretServiceStore.h"

#include <memory>
#include <string>

namespace corvane {

namespace {

constexpr const char* schemaName = "dev.corvane.Pairing";
constexpr const char* contentType = "text/plain";
constexpr const char* itemLabel = "Corvane paired devices";
// Sentinel for libsecret's attribute lists.
constexpr const char* endOfAttributes = nullptr;

struct ValueUnref {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using ValuePtr = std::unique_ptr<SecretValue, ValueUnref>;

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using ServicePtr = std::unique_ptr<SecretService, ObjectUnref>;

struct TableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using TablePtr = std::unique_ptr<GHashTable, TableUnref>;

// D-Bus strings must be UTF-8 and C strings stop at the first NUL: anything else would name
// another item than the one asked for.
bool isAttributeText(const std::string& text) {
    return text.find('\0') == std::string::npos &&
           g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}

bool hasValidAttributes(const SecretItem& item) {
    return isAttributeText(item.service) && isAttributeText(item.account);
}

// How far a failed call got: to the daemon, to a daemon that no longer knows our objects, or not
// to a live daemon at all.
enum class Reach { answered, stale, gone, silent };

// libsecret keeps its service proxy (bound to the daemon's unique bus name) and its session for
// good, so once the daemon is gone every later call fails the same way until we drop them.
Reach reachOf(const GError& error) {
    if (error.domain == G_DBUS_ERROR) {
        switch (error.code) {
        case G_DBUS_ERROR_SERVICE_UNKNOWN:
        case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
        case G_DBUS_ERROR_DISCONNECTED:
        case G_DBUS_ERROR_NO_SERVER:
            return Reach::gone;
        // Object paths of a daemon that may have restarted since (or a missing collection).
        case G_DBUS_ERROR_UNKNOWN_OBJECT:
            return Reach::stale;
        case G_DBUS_ERROR_NO_REPLY:
        case G_DBUS_ERROR_TIMEOUT:
        case G_DBUS_ERROR_TIMED_OUT:
            return Reach::silent;
        default:
            return Reach::answered;
        }
    }
    if (error.domain == G_IO_ERROR) {
        switch (error.code) {
        case G_IO_ERROR_CLOSED:
        case G_IO_ERROR_CONNECTION_CLOSED:
        case G_IO_ERROR_NOT_CONNECTED:
            return Reach::gone;
        case G_IO_ERROR_TIMED_OUT:
            return Reach::silent;
        default:
            return Reach::answered;
        }
    }
    return Reach::answered;
}

} // namespace

SecretServiceStore::SecretServiceStore() : schema_{} {
    schema_.name = schemaName;
    schema_.flags = SECRET_SCHEMA_NONE;
    schema_.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
    schema_.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
}

bool SecretServiceStore::available() {
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (service == nullptr) {
        g_clear_error(&error);
        return false;
    }
    g_object_unref(service);
    return true;
}

void SecretServiceStore::ItemsDeleter::operator()(GList* items) const {
    g_list_free_full(items, g_object_unref);
}

std::int32_t SecretServiceStore::findUnlocked(const SecretItem& item, Status failure,
                                              SecretSearchFlags flags, Items& found) {
    if (!hasValidAttributes(item)) {
        return fail(invalidAttributes, nullptr);
    }
    GError* error = nullptr;
    const ServicePtr service(secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error));
    if (!service) {
        return fail(failure, error);
    }
    const TablePtr attributes(secret_attributes_build(&schema_, "service", item.service.c_str(),
                                                      "account", item.account.c_str(),
                                                      endOfAttributes));
    // Locked items are found too and unlocked through the keyring's prompt; libsecret's simple
    // lookup would answer "no such item" when the user dismisses that prompt, or none can show.
    found.reset(secret_service_search_sync(
        service.get(), &schema_, attributes.get(),
        static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK | flags), nullptr,
        &error));
    if (error != nullptr) {
        return fail(failure, error);
    }
    if (!found) {
        return SecretStatus::itemNotFound;
    }
    for (GList* entry = found.get(); entry != nullptr; entry = entry->next) {
        if (secret_item_get_locked(static_cast<::SecretItem*>(entry->data))) {
            return fail(locked, nullptr);
        }
    }
    return SecretStatus::success;
}

SecretLookup SecretServiceStore::copyMatching(const SecretItem& item) {
    Items found;
    const std::int32_t status = findUnlocked(item, lookupFailed, SECRET_SEARCH_LOAD_SECRETS, found);
    if (status != SecretStatus::success) {
        return SecretLookup{status, {}};
    }
    const ValuePtr value(secret_item_get_secret(static_cast<::SecretItem*>(found->data)));
    if (!value) {
        return SecretLookup{fail(lookupFailed, nullptr), {}};
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    return SecretLookup{SecretStatus::success, Bytes(bytes, length)};
}

std::int32_t SecretServiceStore::update(const SecretItem& item, const Bytes& data) {
    const SecretLookup existing = copyMatching(item);
    if (existing.status != SecretStatus::success) {
        return existing.status;
    }
    return store(item, data);
}

std::int32_t SecretServiceStore::add(const SecretItem& item, const Bytes& data) {
    // Storing replaces a matching item; adding must not.
    const SecretLookup existing = copyMatching(item);
    if (existing.status == SecretStatus::success) {
        return fail(duplicateItem, nullptr);
    }
    if (existing.status != SecretStatus::itemNotFound) {
        return existing.status;
    }
    return store(item, data);
}

std::int32_t SecretServiceStore::remove(const SecretItem& item) {
    // A locked item is not "not found": it would outlive a forget that reported success.
    Items found;
    const std::int32_t status = findUnlocked(item, clearFailed, SECRET_SEARCH_NONE, found);
    if (status != SecretStatus::success) {
        return status;
    }
    for (GList* entry = found.get(); entry != nullptr; entry = entry->next) {
        GError* error = nullptr;
        if (!secret_item_delete_sync(static_cast<::SecretItem*>(entry->data), nullptr, &error)) {
            return fail(clearFailed, error);
        }
    }
    return SecretStatus::success;
}

std::optional<std::string> SecretServiceStore::errorMessage(std::int32_t status) const {
    switch (status) {
    case duplicateItem:
        return "The secret store already holds this item";
    case invalidAttributes:
        return "Secret names must be UTF-8 text without NUL characters";
    case locked:
        return "The keyring is locked, and it was not unlocked when asked";
    default:
        break;
    }
    const auto found = lastMessages_.find(status);
    if (found == lastMessages_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::int32_t SecretServiceStore::store(const SecretItem& item, const Bytes& data) {
    const ValuePtr value(
        secret_value_new(data.data(), static_cast<gssize>(data.size()), contentType));
    GError* error = nullptr;
    const gboolean stored = secret_password_store_binary_sync(
        &schema_, SECRET_COLLECTION_DEFAULT, itemLabel, value.get(), nullptr, &error, "service",
        item.service.c_str(), "account", item.account.c_str(), endOfAttributes);
    if (!stored || error != nullptr) {
        return fail(storeFailed, error);
    }
    return SecretStatus::success;
}

std::int32_t SecretServiceStore::fail(Status status, GError* error) {
    if (error != nullptr) {
        const std::string detail = std::string("Secret Service: ") + error->message;
        const Reach reach = reachOf(*error);
        g_error_free(error);
        if (reach != Reach::answered) {
            // This call still fails; the next one connects afresh and reaches a restarted daemon.
            secret_service_disconnect();
        }
        switch (reach) {
        case Reach::gone:
            lastMessages_[status] = "The keyring is not running (" + detail + ")";
            break;
        case Reach::silent:
            lastMessages_[status] = "The keyring is not answering (" + detail + ")";
            break;
        case Reach::stale:
        case Reach::answered:
            lastMessages_[status] = detail;
            break;
        }
    } else {
        lastMessages_[status] = "Secret Service: the request failed";
    }
    return status;
}

} // namespace corvane
