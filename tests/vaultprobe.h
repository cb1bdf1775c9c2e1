#pragma once

#include "vault/vaultindex.h"

#include <QMutexLocker>

#include <memory>

namespace quorvel::vault {

// What tests and benchmarks may do that the program never does: an index outside the shared
// map, a build on demand, and a last build made to look older than the rebuild delay.
struct VaultIndexProbe
{
    static std::unique_ptr<VaultIndex> fresh(const QString &root)
    {
        return std::unique_ptr<VaultIndex>(new VaultIndex(root));
    }

    static void build(VaultIndex &index) { index.build(); }

    static bool built(const VaultIndex &index)
    {
        const QMutexLocker locker(&index.m_lock);
        return index.m_builtAt.has_value();
    }

    static void age(VaultIndex &index)
    {
        const QMutexLocker locker(&index.m_lock);
        if (index.m_builtAt)
            index.m_builtAt = index.m_builtAt->addSecs(-11);
    }
};

} // namespace quorvel::vault
