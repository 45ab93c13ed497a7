#pragma once

#include "pairing/SecretStore.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QTemporaryDir>
#include <filesystem>
#include <functional>

namespace corvane::test {

inline std::filesystem::path pathOf(const QTemporaryDir& folder) {
    return folder.path().toStdString();
}

// The five calls as every store answers them; `witness` reads the item as another program would.
inline void expectStoreContract(SecretStore& store,
                                const std::function<Bytes(const SecretItem&)>& witness) {
    const SecretItem item{"dev.corvane.test", "clients"};
    const SecretItem sibling{"dev.corvane.test", "others"};
    EXPECT_EQ(store.copyMatching(item).status, SecretStatus::itemNotFound);
    EXPECT_EQ(store.update(item, "x"), SecretStatus::itemNotFound);
    EXPECT_EQ(store.remove(item), SecretStatus::itemNotFound);

    ASSERT_EQ(store.add(item, "first"), SecretStatus::success);
    ASSERT_EQ(store.add(sibling, "sibling"), SecretStatus::success);
    const std::int32_t duplicate = store.add(item, "clobber");
    EXPECT_NE(duplicate, SecretStatus::success);
    EXPECT_TRUE(store.errorMessage(duplicate).has_value());
    EXPECT_EQ(witness(item), "first");
    for (const Bytes& data : {Bytes(R"({"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D":"x+/="})"),
                              Bytes("nul\0caf\xc3\xa9", 9), Bytes(), Bytes(65536, 'k')}) {
        SCOPED_TRACE(data.size());
        ASSERT_EQ(store.update(item, data), SecretStatus::success);
        EXPECT_EQ(store.copyMatching(item).data, data);
        EXPECT_EQ(witness(item), data);
    }
    EXPECT_EQ(store.remove(item), SecretStatus::success);
    EXPECT_EQ(store.remove(item), SecretStatus::itemNotFound);
    EXPECT_EQ(store.copyMatching(item).status, SecretStatus::itemNotFound);
    EXPECT_EQ(store.copyMatching(sibling).data, "sibling");
}

} // namespace corvane::test
