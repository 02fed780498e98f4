// Byte layouts of every record that the data server, the registration service
// or the trace facility reads. The 32-bit build is the one they bind to; the
// native build only keeps what does not depend on the width of an address.
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
static_assert(sizeof(DWSysRecord) == 108);
static_assert(offsetof(DWSysRecord, ORIGINNODE) == 0);
static_assert(offsetof(DWSysRecord, TIMESTAMP) == 32);
static_assert(offsetof(DWSysRecord, VARNNAME) == 48);
static_assert(offsetof(DWSysRecord, RQMID) == 56);
static_assert(offsetof(DWSysRecord, SYSNAME) == 60);
static_assert(offsetof(DWSysRecord, DW_NAME) == 68);
static_assert(offsetof(DWSysRecord, CONNHVTCT) == 76);
static_assert(offsetof(DWSysRecord, STG_ALLOC) == 80);
static_assert(offsetof(DWSysRecord, STG_USED) == 84);
static_assert(offsetof(DWSysRecord, DUMPTBLSZ) == 88);
static_assert(offsetof(DWSysRecord, DUMPTBLIUS) == 92);
static_assert(offsetof(DWSysRecord, TOTSTGCTL) == 96);
static_assert(offsetof(DWSysRecord, STATUS) == 100);
static_assert(offsetof(DWSysRecord, DWLEVEL) == 104);

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
static_assert(sizeof(CNT1_ContentsRecord) == 264);
static_assert(offsetof(CNT1_ContentsRecord, providerName) == 0);
static_assert(offsetof(CNT1_ContentsRecord, entryList) == 256);
static_assert(offsetof(CNT1_ContentsRecord, entryCount) == 260);

static_assert(sizeof(CNT1_EntryListRecord) == 40);
static_assert(offsetof(CNT1_EntryListRecord, tableName) == 0);
static_assert(offsetof(CNT1_EntryListRecord, reserved) == 32);
static_assert(offsetof(CNT1_EntryListRecord, vector) == 36);

static_assert(sizeof(PRB1_VectorRecord) == 96);
static_assert(offsetof(PRB1_VectorRecord, header) == 0);
static_assert(offsetof(PRB1_VectorRecord, start) == 12);
static_assert(offsetof(PRB1_VectorRecord, process) == 24);
static_assert(offsetof(PRB1_VectorRecord, terminate) == 36);
static_assert(offsetof(PRB1_VectorRecord, version) == 48);
static_assert(offsetof(PRB1_VectorRecord, unused) == 60);
static_assert(sizeof(PRB1_VectorRecord::unused) == 36);
static_assert(sizeof(PRB1_RequestSlot) == 12 && offsetof(PRB1_RequestSlot, zero) == 4);
static_assert(sizeof(PRB1_VersionSlot) == 12 && offsetof(PRB1_VersionSlot, zero) == 4);
static_assert(sizeof(PRB1_EmptySlot) == 12 && offsetof(PRB1_EmptySlot, zero) == 4);

static_assert(sizeof(JwbldValues) == 16);
static_assert(offsetof(JwbldValues, infoCount) == 0);
static_assert(offsetof(JwbldValues, commentCount) == 4);
static_assert(offsetof(JwbldValues, info) == 8);
static_assert(offsetof(JwbldValues, comments) == 12);

// Data-server handles, objects and the request interface.
static_assert(sizeof(DSHandle) == 8);
static_assert(offsetof(DSHandle, object) == 4);
static_assert(offsetof(DSObjectHeader, classRecord) == 8);
static_assert(offsetof(DSClassRecord, sqlOperations) == 4);
static_assert(offsetof(DSClassRecord, commonOperations) == 12);

static_assert(offsetof(DSParameterList, workArea) == 24);
static_assert(offsetof(DSParameterList, viewStorage) == 96);
static_assert(offsetof(DSParameterList, tableName) == 172);
static_assert(offsetof(IndexFilter, value) == 76);

static_assert(offsetof(SQLDA, columnCount) == 12 && sizeof(SQLDA::columnCount) == 2);
static_assert(offsetof(SQLDA, column) == 16);
static_assert(sizeof(SQLVAR) == 68);
static_assert(offsetof(SQLVAR, dataLength) == 2 && sizeof(SQLVAR::dataLength) == 2);
static_assert(offsetof(SQLVAR, dataAddress) == 16);
static_assert(offsetof(SQLDA, column) + 1 * sizeof(SQLVAR) + offsetof(SQLVAR, dataLength) == 86);

// The work area: the listed fields in order, made up to 248 bytes.
static_assert(sizeof(DWSYWORK) == 248);
static_assert(offsetof(DWSYWORK, eyeCatcher) == 0);
static_assert(offsetof(DWSYWORK, resultList) == 8);
static_assert(offsetof(DWSYWORK, rowCursor) == 12);
static_assert(offsetof(DWSYWORK, realNodeCursor) == 16);
static_assert(offsetof(DWSYWORK, realNodeTable) == 20);
static_assert(offsetof(DWSYWORK, originNodeTable) == 24);
static_assert(offsetof(DWSYWORK, resultTable) == 28);
static_assert(offsetof(DWSYWORK, rowBuffer) == 32);
static_assert(offsetof(DWSYWORK, rowsReturned) == 140);
static_assert(offsetof(DWSYWORK, idnameSet) == 144);
static_assert(offsetof(DWSYWORK, originnodeSet) == 148);
static_assert(offsetof(DWSYWORK, idnameFilter) == 152);
static_assert(offsetof(DWSYWORK, originnodeFilter) == 161);

// Result tables and the elements kept in them.
static_assert(sizeof(RSLTlink) == 8);
static_assert(sizeof(RSLTlist) == 12);
static_assert(sizeof(RSLTanchor) == 52);
static_assert(offsetof(RSLTanchor, ElementSize) == 8);
static_assert(offsetof(RSLTanchor, PrimarySize) == 12);
static_assert(offsetof(RSLTanchor, FreeElements) == 16);
static_assert(offsetof(RSLTanchor, BlockSize) == 20);
static_assert(offsetof(RSLTanchor, TotalElements) == 24);
static_assert(offsetof(RSLTanchor, TotalBlocks) == 28);
static_assert(offsetof(RSLTanchor, FirstBlock) == 32);
static_assert(offsetof(RSLTanchor, LastBlock) == 36);
static_assert(offsetof(RSLTanchor, ElementList) == 40);

static_assert(sizeof(InodeElement) == 108);
static_assert(offsetof(InodeElement, Next) == 0);
static_assert(offsetof(InodeElement, Prev) == 4);
static_assert(offsetof(InodeElement, OriginNode) == 8);
static_assert(offsetof(InodeElement, OriginVARN) == 40);
static_assert(offsetof(InodeElement, OriginRQM) == 48);
static_assert(offsetof(InodeElement, OriginType) == 56);
static_assert(offsetof(InodeElement, GetRealNode) == 60);
static_assert(offsetof(InodeElement, Affinities) == 64);

static_assert(sizeof(RealNodeElement) == 84);
static_assert(offsetof(RealNodeElement, RealNode) == 8);
static_assert(offsetof(RealNodeElement, RealNodeOrigNode) == 40);
static_assert(offsetof(RealNodeElement, RealNodeVarnex) == 73);
static_assert(offsetof(RealNodeElement, RealNodeAgtVer) == 81);

static_assert(sizeof(DWSysResultElement) == 116);
static_assert(offsetof(DWSysResultElement, row) == 8);

// Trace blocks.
static_assert(sizeof(TraceUnitBlock) == 60);
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
static_assert(offsetof(TraceUnitBlock, buildInformation) == 56);

static_assert(sizeof(TraceEntryBlock) == 40);
static_assert(offsetof(TraceEntryBlock, unit) == 0);
static_assert(offsetof(TraceEntryBlock, functionName) == 4);
static_assert(offsetof(TraceEntryBlock, functionNameLength) == 8);
static_assert(offsetof(TraceEntryBlock, sourceLine) == 12);
static_assert(offsetof(TraceEntryBlock, unitSync) == 16);
static_assert(offsetof(TraceEntryBlock, magic) == 20);
static_assert(offsetof(TraceEntryBlock, cachedFlags) == 24);
static_assert(offsetof(TraceEntryBlock, cachedSync) == 28);
static_assert(offsetof(TraceEntryBlock, zero) == 32);

#endif

}  // namespace
