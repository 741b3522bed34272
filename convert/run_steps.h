// The numbers of the conversion run's steps. A failing step shows its number
// in the error report, so users' reports name these numbers: they never
// change. Numbers without a step of their own (a branch, a yield) are left
// out.
#pragma once

namespace tp::convert::step {

// Opening: the connection objects, the source test, the table lists, the
// connections.
inline constexpr int CreateTargetConnection = 104;
inline constexpr int CreateSourceConnection = 108;
inline constexpr int CreateRecordset = 110;
inline constexpr int TestSource = 116;
inline constexpr int ShowBusyPointer = 118;
inline constexpr int ClearTargetTables = 120;
inline constexpr int ClearSourceTables = 122;
inline constexpr int ListTargetTables = 124;  // also: create a missing target
inline constexpr int ListSourceTables = 126;
inline constexpr int SourceCursorLocation = 128;
inline constexpr int SourceCommandTimeout = 130;
inline constexpr int SourceConnectionTimeout = 132;
inline constexpr int OpenSource = 134;
inline constexpr int TargetCursorLocation = 140;
inline constexpr int TargetMode = 142;
inline constexpr int OpenTarget = 144;
inline constexpr int CountSourceTables = 148;

// Per table, last listed first.
inline constexpr int ClearPreviewList = 150;
inline constexpr int ClearDatatypeList = 152;
inline constexpr int YieldBeforeTable = 154;
inline constexpr int TableName = 156;
inline constexpr int TargetHasTable = 158;
inline constexpr int AskOverwrite = 160;
inline constexpr int PreviewPerTable = 166;
inline constexpr int ClearPreviewListForTable = 168;
inline constexpr int ClearDatatypeListForTable = 170;
inline constexpr int DropPreviewMode = 174;  // the statement sink's three steps:
inline constexpr int DropToPreview = 176;    //   preview mode?, to the preview list,
inline constexpr int DropExecute = 178;      //   or executed on the target
inline constexpr int ForgetTargetTable = 180;
inline constexpr int ShowTableProgress = 182;
inline constexpr int OpenTableRows = 184;

// The table's definition (CREATE TABLE).
inline constexpr int ReadFields = 186;
inline constexpr int DefinitionHead = 186;
inline constexpr int ClearNumericPositions = 188;
inline constexpr int ClearFieldName = 190;
inline constexpr int AddDatatypeRow = 194;
inline constexpr int SetDatatypeField = 196;
inline constexpr int YieldPerField = 198;
inline constexpr int FieldName = 200;
inline constexpr int FieldTypeName = 202;
inline constexpr int FieldLeftOut = 204;
// Each type rule's three steps (the column, its datatype row, its numeric
// position) are numbered from the rule's first step: +0, +2, +4.
inline constexpr int CharColumn = 206;
inline constexpr int DecimalColumn = 222;
inline constexpr int IntColumn = 242;
inline constexpr int NumericColumn = 282;
inline constexpr int DateColumn = 292;
inline constexpr int TimestampColumn = 300;
inline constexpr int DoubleColumn = 308;
inline constexpr int OtherColumn = 318;
inline constexpr int DropLastComma = 326;
inline constexpr int CloseColumnList = 328;
inline constexpr int CreatePreviewMode = 330;
inline constexpr int CreateToPreview = 332;
inline constexpr int CreateExecute = 334;
inline constexpr int NumericPositions = 336;

// The rows (one INSERT each).
inline constexpr int AnyRow = 338;
inline constexpr int AtEndOfRows = 340;
inline constexpr int ShowRowProgress = 346;
inline constexpr int MissingValue = 358;
inline constexpr int WriteValue = 360;
inline constexpr int DropLastValueComma = 424;
inline constexpr int CloseValueList = 426;
inline constexpr int InsertPreviewMode = 428;
inline constexpr int InsertToPreview = 430;
inline constexpr int InsertExecute = 440;
inline constexpr int NextRow = 442;
inline constexpr int ReadNotices = 444;
inline constexpr int CloseTableRows = 446;

// The preview of one table, and the table's end.
inline constexpr int ResetPreviewFlags = 448;
inline constexpr int PreviewThisTable = 450;
inline constexpr int ShowTablePreview = 452;
inline constexpr int PreviewLetRunGoOn = 456;
inline constexpr int ClearTableProgress = 458;

// The end of the run.
inline constexpr int PreviewAtEnd = 462;
inline constexpr int ResetPreviewFlagAtEnd = 466;
inline constexpr int ShowFinalPreview = 468;
inline constexpr int CloseTargetAfterPreview = 470;
inline constexpr int CloseSourceAfterPreview = 472;
inline constexpr int ClearProgressAfterPreview = 476;
inline constexpr int CloseTarget = 482;
inline constexpr int CloseSource = 484;
inline constexpr int HideBusyPointer = 486;
inline constexpr int ResetProgressValue = 488;
inline constexpr int ResetProgressText = 490;
inline constexpr int ShowDone = 492;

// Keys, indexes and relations, when the run creates them. Before a table's
// DROP TABLE, the target's relationships that involve it are dropped;
// after its rows, its primary key and indexes; after all tables, the
// relations (in per-table preview mode, in one more preview).
inline constexpr int DropRelationPreviewMode = 500;
inline constexpr int DropRelationToPreview = 502;
inline constexpr int DropRelationExecute = 504;
inline constexpr int IndexPreviewMode = 510;
inline constexpr int IndexToPreview = 512;
inline constexpr int IndexExecute = 514;
inline constexpr int KeyLeftOutRow = 516;  // a datatype row telling a tag left out
inline constexpr int RelationsPerTable = 520;
inline constexpr int ClearPreviewListForRelations = 522;
inline constexpr int ClearDatatypeListForRelations = 524;
inline constexpr int RelationPreviewMode = 526;
inline constexpr int RelationToPreview = 528;
inline constexpr int RelationExecute = 530;
inline constexpr int ShowRelationsPreview = 532;
// After a table's rows, before its keys: its own and its columns'
// properties (captions, comments, rules).
inline constexpr int PropertyPreviewMode = 540;
inline constexpr int PropertyToPreview = 542;
inline constexpr int PropertyExecute = 544;
// An enforced relationship the target's rows break, made again without
// enforced integrity.
inline constexpr int UnenforcedRelationExecute = 546;
// A table's statements end as one unit: kept, or taken back when the user
// stopped the run in it.
inline constexpr int CommitTable = 550;
inline constexpr int UndoStoppedTable = 552;

}  // namespace tp::convert::step
