// The Access engine's errors: Access's own numbers and wording, kept once
// here. The engine, the SQL layer, the pager and the provider throw through
// these; a text that names something (a table, a field, a file) is built by
// its function, the fixed texts are constants.
//
// Wording follows Microsoft's documented texts (docs/jet-format.md points to
// the list); where a text names an object, the name stands in single quotes.
#pragma once

#include <string>
#include <string_view>

#include "db/error.h"

namespace tp::db::jet {

namespace jeterr {

// ---- numbers ---------------------------------------------------------------
inline constexpr long kTooManyTransactions = 3003;
inline constexpr long kTableExists = 3010;
inline constexpr long kDuplicateKey = 3022;
inline constexpr long kFileNotFound = 3024;
inline constexpr long kReadOnly = 3027;
inline constexpr long kNotValidPassword = 3031;
inline constexpr long kNoTransaction = 3034;
inline constexpr long kDiskIo = 3043;
inline constexpr long kInUse = 3045;
inline constexpr long kFull = 3047;        // also "Record is too large."
inline constexpr long kUnfinished = 3049;  // damaged or left unfinished
inline constexpr long kNullInIndex = 3058;
inline constexpr long kMissingParameter = 3061;
inline constexpr long kDuplicateOutput = 3067;
inline constexpr long kDateSyntax = 3075;
inline constexpr long kInputTableMissing = 3078;
inline constexpr long kInvalidName = 3125;
inline constexpr long kUnknownInsertField = 3127;
inline constexpr long kInvalidStatement = 3129;
inline constexpr long kSyntaxFrom = 3131;
inline constexpr long kSyntaxInsert = 3134;
inline constexpr long kSyntaxSelect = 3141;
inline constexpr long kAfterEnd = 3142;
inline constexpr long kFieldTooSmall = 3163;
inline constexpr long kTooManyFields = 3190;
inline constexpr long kFieldTwice = 3191;
inline constexpr long kOutputTableMissing = 3192;
inline constexpr long kDatabaseExists = 3204;
inline constexpr long kNotSupported = 3251;
inline constexpr long kSyntaxCreateTable = 3290;
inline constexpr long kSyntaxFieldDefinition = 3292;
inline constexpr long kSyntaxDrop = 3295;
inline constexpr long kCannotDelete = 3303;
inline constexpr long kRequired = 3314;
inline constexpr long kValidationRule = 3317;
inline constexpr long kValidationSyntax = 3320;
inline constexpr long kUnrecognized = 3343;
inline constexpr long kValueCount = 3346;
inline constexpr long kOverflow = 3349;
inline constexpr long kRelatedRecordRequired = 3201;
inline constexpr long kItemNotFound = 3265;
inline constexpr long kTooManyIndexFields = 3277;
inline constexpr long kPrimaryKeyExists = 3283;
inline constexpr long kSyntaxConstraint = 3289;
inline constexpr long kSyntaxCreateIndex = 3291;
inline constexpr long kSyntaxAlterTable = 3293;
inline constexpr long kRelationshipFields = 3368;
inline constexpr long kConstraintMissing = 3371;
inline constexpr long kIndexMissing = 3372;
inline constexpr long kNotUniquelyIndexed = 3374;
inline constexpr long kIndexExists = 3375;
inline constexpr long kTableMissing = 3376;
inline constexpr long kRelationshipExists = 3378;
inline constexpr long kIntegrityViolated = 3379;
inline constexpr long kTooManyIndexes = 3626;
inline constexpr long kObjectInvalid = 3420;
inline constexpr long kTypeMismatch = 3464;
inline constexpr long kFieldSize = 3741;
inline constexpr long kFieldInIndex = 3280;
inline constexpr long kFieldExists = 3380;
// Queries: SELECT, UPDATE, DELETE and their expressions; and the run-time
// errors of an expression's value.
inline constexpr long kSyntaxExpression = 3075;  // also dates (kDateSyntax)
inline constexpr long kUndefinedFunction = 3085;
inline constexpr long kAggregateInWhere = 3096;
inline constexpr long kFieldNotUpdatable = 3113;
inline constexpr long kNotInAggregate = 3122;
inline constexpr long kSyntaxOrderBy = 3138;
inline constexpr long kSyntaxUpdate = 3144;
inline constexpr long kSyntaxWhere = 3145;
inline constexpr long kRelatedRecords = 3200;
inline constexpr long kDivisionByZero = 11;
inline constexpr long kInvalidUseOfNull = 94;
inline constexpr long kDecimalPrecision = 3759;

// ---- fixed texts -----------------------------------------------------------
inline constexpr const char* kSyntaxCreateTableText = "Syntax error in CREATE TABLE statement.";
inline constexpr const char* kSyntaxFieldText = "Syntax error in field definition.";
inline constexpr const char* kSyntaxInsertText = "Syntax error in INSERT INTO statement.";
inline constexpr const char* kSyntaxDropText = "Syntax error in DROP TABLE or DROP INDEX.";
inline constexpr const char* kSyntaxFromText = "Syntax error in FROM clause.";
inline constexpr const char* kSyntaxCreateIndexText = "Syntax error in CREATE INDEX statement.";
inline constexpr const char* kSyntaxAlterTableText = "Syntax error in ALTER TABLE statement.";
inline constexpr const char* kSyntaxConstraintText = "Syntax error in CONSTRAINT clause.";
inline constexpr const char* kSyntaxSelectText =
    "The SELECT statement includes a reserved word or an argument name that is misspelled or missing, or the "
    "punctuation is incorrect.";
inline constexpr const char* kSyntaxOrderByText = "Syntax error in ORDER BY clause.";
inline constexpr const char* kSyntaxUpdateText = "Syntax error in UPDATE statement.";
inline constexpr const char* kSyntaxWhereText = "Syntax error in WHERE clause.";
inline constexpr const char* kReadOnlyText = "Cannot update. Database or object is read-only.";

// ---- the errors ------------------------------------------------------------
// Without a name in the text.
Error typeMismatch();           // 3464
Error recordTooLarge();         // 3047
Error readOnly();               // 3027
Error notValidPassword();       // 3031
Error databaseExists();         // 3204
Error noTransaction();          // 3034
Error tooManyTransactions();    // 3003
Error syntaxCreateTable();      // 3290
Error tooManyFields();          // 3190
Error fieldTwice();             // 3191
Error valueCount();             // 3346
Error overflow();               // 3349
Error fieldTooSmall();          // 3163
Error nullInIndex();            // 3058
Error duplicateKey();           // 3022
Error cannotDelete();           // 3303
Error objectInvalid();          // 3420
Error missingParameter();       // 3061
Error notCapable();             // 3251, the provider's wording
Error notSupportedForObject();  // 3251, the database's wording
// With a name in the text.
Error fileNotFound(std::string_view path);                            // 3024
Error cannotCreateFile(std::string_view path, std::string_view why);  // 3043
Error inUse(std::string_view path);                                   // 3045
Error unrecognizedFormat(std::string_view path);                      // 3343
Error damaged(std::string_view path, std::string_view what);          // 3049
Error tableExists(std::string_view table);                            // 3010
Error tableMissing(std::string_view table);                           // 3376
Error inputTableMissing(std::string_view table);                      // 3078
Error outputTableMissing(std::string_view table);                     // 3192
Error invalidName(std::string_view name);                             // 3125
Error required(std::string_view table, std::string_view column);      // 3314
Error dateSyntax(std::string_view text);                              // 3075, text between the # signs
// Keys, indexes and relationships.
Error itemNotFound();                                                  // 3265 (a field an index names)
Error tooManyIndexFields();                                            // 3277
Error primaryKeyExists();                                              // 3283
Error relationshipFields();                                            // 3368
Error constraintMissing();                                             // 3371
Error indexMissing(std::string_view table, std::string_view index);    // 3372
Error notUniquelyIndexed(std::string_view table);                      // 3374
Error indexExists(std::string_view table, std::string_view index);     // 3375
Error relationshipExists(std::string_view name);                       // 3378
Error integrityViolated(std::string_view many, std::string_view one);  // 3379
Error relatedRecordRequired(std::string_view one);                     // 3201
Error tooManyIndexes(std::string_view table);                          // 3626
// Columns (ALTER TABLE).
Error fieldExists(std::string_view column, std::string_view table);  // 3380
Error fieldInIndex();                                                // 3280
// Validation rules: a row the rule of `object` ('t.c' or 't') prohibits
// (the rule's ValidationText when it has one), a rule that cannot be read.
Error validationRule(std::string_view rule, std::string_view object, std::string_view text);   // 3317
Error validationSyntax(std::string_view rule, std::string_view object, std::string_view why);  // 3320
// Queries.
Error syntaxInExpression(std::string_view text);   // 3075, the expression as written
Error undefinedFunction(std::string_view name);    // 3085
Error aggregateInWhere(std::string_view text);     // 3096
Error fieldNotUpdatable(std::string_view column);  // 3113
Error notInAggregate(std::string_view text);       // 3122
Error relatedRecords(std::string_view many);       // 3200
Error divisionByZero();                            // 11
Error invalidUseOfNull();                          // 94

}  // namespace jeterr

}  // namespace tp::db::jet
