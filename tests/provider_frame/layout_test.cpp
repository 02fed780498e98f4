// Byte layouts of the records that the data server, the registration service
// or the trace facility reads, where the records' own headers do not already
// prove them. The 32-bit build is the one they bind to; the native build only
// keeps what does not depend on the width of an address.
#include <cstddef>
#include <cstdint>

#include "platform/dshandle.h"
#include "platform/dsrequest.h"
#include "platform/ras1.h"
#include "platform/registration.h"
#include "provider/generated/jwbld00.h"
#include "provider/kqvdwsys.h"
#include "sql/dssql.h"
#include "util/kqvmutl.h"

namespace {

// Width-independent: the status row, the filter's leading fields, the list
// header standing in for an element.
static_assert(offsetof(DWSysRecord, ORIGINNODE) == 0);
static_assert(offsetof(IndexFilter, op) == 0 && sizeof(IndexFilter::op) == 2);
static_assert(offsetof(IndexFilter, valueLength) == 2 && sizeof(IndexFilter::valueLength) == 2);
static_assert(offsetof(IndexFilter, columnName) == 30 && sizeof(IndexFilter::columnName) == 11);
static_assert(offsetof(DSObjectHeader, checkNumber) == 4 && sizeof(DSObjectHeader::checkNumber) == 2);
static_assert(offsetof(DSHandle, checkNumber) == 0 && sizeof(DSHandle::checkNumber) == 2);

static_assert(offsetof(RSLTlist, First) == offsetof(RSLTlink, Next));
static_assert(offsetof(RSLTlist, Last) == offsetof(RSLTlink, Prev));
static_assert(offsetof(RSLTanchor, EyeCatcher) == 0 && sizeof(RSLTanchor::EyeCatcher) == 8);

static_assert(sizeof(CNT1_ContentsRecord::providerName) == 256);
static_assert(sizeof(CNT1_EntryListRecord::tableName) == 32);
static_assert(sizeof(PRB1_VectorRecord::header) == 12);

static_assert(sizeof(DWSYWORK::eyeCatcher) == 8);
static_assert(sizeof(DWSYWORK::idnameFilter) == 9);
static_assert(sizeof(DWSYWORK::originnodeFilter) == 33);

#if UINTPTR_MAX == 0xFFFFFFFFu

// Registration records.
static_assert(offsetof(CNT1_ContentsRecord, providerName) == 0);
static_assert(offsetof(CNT1_EntryListRecord, tableName) == 0);
static_assert(offsetof(PRB1_VectorRecord, header) == 0);
static_assert(sizeof(PRB1_VectorRecord::unused) == 36);
static_assert(sizeof(PRB1_RequestSlot) == 12 && offsetof(PRB1_RequestSlot, zero) == 4);
static_assert(sizeof(PRB1_VersionSlot) == 12 && offsetof(PRB1_VersionSlot, zero) == 4);
static_assert(sizeof(PRB1_EmptySlot) == 12 && offsetof(PRB1_EmptySlot, zero) == 4);

static_assert(sizeof(JwbldValues) == 16);
static_assert(offsetof(JwbldValues, infoCount) == 0);
static_assert(offsetof(JwbldValues, commentCount) == 4);
static_assert(offsetof(JwbldValues, info) == 8);
static_assert(offsetof(JwbldValues, comments) == 12);

// The data server's SQL descriptors.
static_assert(offsetof(SQLDA, columnCount) == 12 && sizeof(SQLDA::columnCount) == 2);
static_assert(offsetof(SQLVAR, dataLength) == 2 && sizeof(SQLVAR::dataLength) == 2);
static_assert(offsetof(SQLDA, column) + 1 * sizeof(SQLVAR) + offsetof(SQLVAR, dataLength) == 86);

// The work area's fields in order.
static_assert(offsetof(DWSYWORK, eyeCatcher) == 0);
static_assert(offsetof(DWSYWORK, rowCursor) == 12);
static_assert(offsetof(DWSYWORK, realNodeCursor) == 16);
static_assert(offsetof(DWSYWORK, realNodeTable) == 20);
static_assert(offsetof(DWSYWORK, originNodeTable) == 24);

// Result tables and the elements kept in them.
static_assert(sizeof(RSLTlink) == 8);
static_assert(sizeof(RSLTlist) == 12);
static_assert(offsetof(RSLTanchor, ElementSize) == 8);
static_assert(offsetof(RSLTanchor, PrimarySize) == 12);
static_assert(offsetof(RSLTanchor, FreeElements) == 16);
static_assert(offsetof(RSLTanchor, BlockSize) == 20);
static_assert(offsetof(RSLTanchor, TotalElements) == 24);
static_assert(offsetof(RSLTanchor, TotalBlocks) == 28);
static_assert(offsetof(RSLTanchor, FirstBlock) == 32);
static_assert(offsetof(RSLTanchor, LastBlock) == 36);

static_assert(offsetof(InodeElement, Next) == 0);
static_assert(offsetof(InodeElement, Prev) == 4);
static_assert(offsetof(InodeElement, OriginVARN) == 40);
static_assert(offsetof(InodeElement, OriginRQM) == 48);
static_assert(offsetof(InodeElement, OriginType) == 56);
static_assert(offsetof(RealNodeElement, RealNode) == 8);
static_assert(offsetof(DWSysResultElement, row) == 8);

// Trace blocks.
static_assert(offsetof(TraceUnitBlock, magic) == 0);
static_assert(offsetof(TraceUnitBlock, attributes) == 4);
static_assert(offsetof(TraceUnitBlock, fileName) == 8);
static_assert(offsetof(TraceUnitBlock, fileNameLength) == 12);
static_assert(offsetof(TraceUnitBlock, buildDate) == 16);
static_assert(offsetof(TraceUnitBlock, buildDateLength) == 20);
static_assert(offsetof(TraceUnitBlock, buildTime) == 24);
static_assert(offsetof(TraceUnitBlock, buildTimeLength) == 28);
static_assert(offsetof(TraceUnitBlock, level) == 32);
static_assert(offsetof(TraceUnitBlock, levelLength) == 36);
static_assert(offsetof(TraceUnitBlock, star) == 40);
static_assert(offsetof(TraceUnitBlock, starLength) == 44);
static_assert(offsetof(TraceUnitBlock, zero) == 48);

static_assert(offsetof(TraceEntryBlock, unit) == 0);
static_assert(offsetof(TraceEntryBlock, functionName) == 4);
static_assert(offsetof(TraceEntryBlock, functionNameLength) == 8);
static_assert(offsetof(TraceEntryBlock, sourceLine) == 12);
static_assert(offsetof(TraceEntryBlock, magic) == 20);
static_assert(offsetof(TraceEntryBlock, zero) == 32);

#endif

}  // namespace
