// The hub's registration service and the records through which a table
// provider makes its table and entries known to the data server.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dshandle.h"

extern "C" {

typedef int32_t (*PRB1_RequestEntry)(DSRequestHandle request);
typedef void (*PRB1_VersionEntry)(const char** version, const char** date, const char** time);

// One entry of the vector: a function address and two zero words.
struct PRB1_RequestSlot {
    PRB1_RequestEntry entry;
    int32_t zero[2];
};
struct PRB1_VersionSlot {
    PRB1_VersionEntry entry;
    int32_t zero[2];
};
struct PRB1_EmptySlot {
    const void* entry;
    int32_t zero[2];
};

// The entry vector of a provider: three header words and seven entries.
struct PRB1_VectorRecord {
    int32_t header[3];
    PRB1_RequestSlot start;      // entry 1
    PRB1_RequestSlot process;    // entry 2
    PRB1_RequestSlot terminate;  // entry 3
    PRB1_VersionSlot version;    // entry 4
    PRB1_EmptySlot unused[3];    // entries 5 to 7
};

struct CNT1_EntryListRecord {
    char tableName[32];
    int32_t reserved;
    const PRB1_VectorRecord* vector;
};

struct CNT1_ContentsRecord {
    char providerName[256];
    CNT1_EntryListRecord* entryList;
    int32_t entryCount;
};

// Registers a provider's contents record with the data server.
int32_t kglcnmnt(CNT1_ContentsRecord* contents, int32_t options);

// The registration service's contents handler.
int32_t kglcnt1h(void);

}  // extern "C"

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(PRB1_VectorRecord) == 96);
static_assert(offsetof(PRB1_VectorRecord, start) == 12);
static_assert(offsetof(PRB1_VectorRecord, process) == 24);
static_assert(offsetof(PRB1_VectorRecord, terminate) == 36);
static_assert(offsetof(PRB1_VectorRecord, version) == 48);
static_assert(offsetof(PRB1_VectorRecord, unused) == 60);
static_assert(sizeof(CNT1_EntryListRecord) == 40);
static_assert(offsetof(CNT1_EntryListRecord, reserved) == 32);
static_assert(offsetof(CNT1_EntryListRecord, vector) == 36);
static_assert(sizeof(CNT1_ContentsRecord) == 264);
static_assert(offsetof(CNT1_ContentsRecord, entryList) == 256);
static_assert(offsetof(CNT1_ContentsRecord, entryCount) == 260);
#endif
