// The registration service: kglcnmnt, kglcnt1h and the directory of tables.
#include "hub/registry.h"

#include <cstdio>
#include <exception>
#include <map>
#include <mutex>

#include "contents_check.h"
#include "hub/trace.h"

namespace hub::registry {
namespace {

class TableDirectory {
  public:
    static TableDirectory& instance() {
        // Never destroyed: the data server may look tables up during exit.
        static TableDirectory* const directory = new TableDirectory;
        return *directory;
    }

    int32_t add(const CNT1_ContentsRecord* contents) {
        const detail::ContentsCheck check = detail::checkContents(contents);
        if (check.status != kRegistered) {
            trace::log("registry", "contents record rejected (status " + std::to_string(check.status) +
                                       "): " + check.problem);
            return check.status;
        }
        const std::lock_guard lock(mutex_);
        std::string names;
        for (int32_t i = 0; i < contents->entryCount; ++i) {
            const CNT1_EntryListRecord& entry = contents->entryList[i];
            std::string name = detail::tableName(entry);
            names += (names.empty() ? "" : ", ") + name;
            Table table{contents, contents->providerName, entry.vector};
            const auto [slot, added] = tables_.try_emplace(std::move(name), table);
            if (!added && slot->second.contents != contents) {
                trace::log("registry", "table '" + slot->first + "' of provider '" + slot->second.provider +
                                           "' replaced by provider '" + table.provider + "'");
            }
            slot->second = std::move(table);
        }
        ++registrations_;
        trace::log("registry", std::string("provider '") + contents->providerName + "' registered: " + names);
        return kRegistered;
    }

    const PRB1_VectorRecord* find(std::string_view name) const {
        const std::lock_guard lock(mutex_);
        const auto found = tables_.find(name);
        return found == tables_.end() ? nullptr : found->second.vector;
    }

    std::vector<std::string> names() const {
        const std::lock_guard lock(mutex_);
        std::vector<std::string> result;
        result.reserve(tables_.size());
        for (const auto& [name, table] : tables_) result.push_back(name);
        return result;
    }

    int registrations() const {
        const std::lock_guard lock(mutex_);
        return registrations_;
    }

    void clear() {
        const std::lock_guard lock(mutex_);
        tables_.clear();
        registrations_ = 0;
    }

  private:
    TableDirectory() = default;

    struct Table {
        const CNT1_ContentsRecord* contents;  // only compared: it may be gone by then
        std::string provider;
        const PRB1_VectorRecord* vector;      // the provider's static data
    };

    mutable std::mutex mutex_;
    std::map<std::string, Table, std::less<>> tables_;
    int registrations_ = 0;
};

}  // namespace

const PRB1_VectorRecord* findTable(std::string_view name) { return TableDirectory::instance().find(name); }

std::vector<std::string> tables() { return TableDirectory::instance().names(); }

int registrations() { return TableDirectory::instance().registrations(); }

void reset() { TableDirectory::instance().clear(); }

}  // namespace hub::registry

extern "C" {

int32_t kglcnmnt(CNT1_ContentsRecord* contents, int32_t /*options: none are defined*/) {
    // Providers are built without exceptions: none may leave here.
    try {
        return hub::registry::TableDirectory::instance().add(contents);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "registry: kglcnmnt failed: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "registry: kglcnmnt failed\n");
    }
    return hub::registry::kOutOfResources;
}

// The provider only imports it; nothing calls it with anything to do.
int32_t kglcnt1h(void) { return 0; }

}  // extern "C"
