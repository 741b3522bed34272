#include "db/jet/errors.h"

namespace tp::db::jet::jeterr {

namespace {

// Built piece by piece: "'" + std::string makes GCC 12 warn of a false overlap.
std::string quoted(std::string_view name) {
    std::string s;
    s.reserve(name.size() + 2);
    s += '\'';
    s += name;
    s += '\'';
    return s;
}

}  // namespace

Error typeMismatch() { return Error(kTypeMismatch, "Data type mismatch in criteria expression."); }
Error recordTooLarge() { return Error(kFull, "Record is too large."); }
Error readOnly() { return Error(kReadOnly, kReadOnlyText); }
Error notValidPassword() { return Error(kNotValidPassword, "Not a valid password."); }
Error databaseExists() { return Error(kDatabaseExists, "Database already exists."); }
Error noTransaction() {
    return Error(kNoTransaction,
                 "You tried to commit or rollback a transaction without first beginning a transaction.");
}
Error tooManyTransactions() {
    return Error(kTooManyTransactions, "Could not start transaction; too many transactions already nested.");
}
Error syntaxCreateTable() { return Error(kSyntaxCreateTable, kSyntaxCreateTableText); }
Error tooManyFields() { return Error(kTooManyFields, "Too many fields defined."); }
Error fieldTwice() { return Error(kFieldTwice, "Cannot define field more than once."); }
Error valueCount() { return Error(kValueCount, "Number of query values and destination fields are not the same."); }
Error overflow() { return Error(kOverflow, "Numeric field overflow."); }
Error fieldTooSmall() {
    return Error(kFieldTooSmall,
                 "The field is too small to accept the amount of data you attempted to add. Try inserting or pasting "
                 "less data.");
}
Error nullInIndex() { return Error(kNullInIndex, "Index or primary key cannot contain a Null value."); }
Error duplicateKey() {
    return Error(kDuplicateKey,
                 "The changes you requested to the table were not successful because they would create duplicate "
                 "values in the index, primary key, or relationship. Change the data in the field or fields that "
                 "contain duplicate data, remove the index, or redefine the index to permit duplicate entries and "
                 "try again.");
}
Error cannotDelete() {
    return Error(kCannotDelete,
                 "Cannot delete this index or table. It is either the current index or it is used in a relationship.");
}
Error objectInvalid() { return Error(kObjectInvalid, "Object invalid or no longer set."); }
Error missingParameter() { return Error(kMissingParameter, "No value given for one or more required parameters."); }
Error notCapable() {
    return Error(kNotSupported, "Object or provider is not capable of performing requested operation.");
}
Error notSupportedForObject() { return Error(kNotSupported, "Operation is not supported for this type of object."); }

Error fileNotFound(std::string_view path) { return Error(kFileNotFound, "Could not find file " + quoted(path) + "."); }
Error cannotCreateFile(std::string_view path, std::string_view why) {
    return Error(kDiskIo, "Could not create file " + quoted(path) + ": " + std::string(why));
}
Error inUse(std::string_view path) { return Error(kInUse, "Could not use " + quoted(path) + "; file already in use."); }
Error unrecognizedFormat(std::string_view path) {
    return Error(kUnrecognized, "Unrecognized database format " + quoted(path) + ".");
}
Error damaged(std::string_view path, std::string_view what) {
    return Error(kUnfinished, "The database " + quoted(path) + " is damaged: " + std::string(what) + ".");
}
Error tableExists(std::string_view table) { return Error(kTableExists, "Table " + quoted(table) + " already exists."); }
Error tableMissing(std::string_view table) {
    return Error(kTableMissing, "Table " + quoted(table) + " does not exist.");
}
Error inputTableMissing(std::string_view table) {
    return Error(kInputTableMissing, "The database engine cannot find the input table or query " + quoted(table) +
                                         ". Make sure it exists and that its name is spelled correctly.");
}
Error outputTableMissing(std::string_view table) {
    return Error(kOutputTableMissing, "Could not find output table " + quoted(table) + ".");
}
Error invalidName(std::string_view name) {
    return Error(kInvalidName, quoted(name) +
                                   " is not a valid name. Make sure that it does not include invalid characters or "
                                   "punctuation and that it is not too long.");
}
// Access's wording: one space between the two sentences, as in every other
// text of the engine.
Error required(std::string_view table, std::string_view column) {
    return Error(kRequired, "The field '" + std::string(table) + "." + std::string(column) +
                                "' cannot contain a Null value because the Required property for this field is set "
                                "to True. Enter a value in this field.");
}
Error dateSyntax(std::string_view text) {
    return Error(kDateSyntax, "Syntax error in date in query expression '#" + std::string(text) + "#'.");
}

Error fieldExists(std::string_view column, std::string_view table) {
    return Error(kFieldExists,
                 "Field '" + std::string(column) + "' already exists in table '" + std::string(table) + "'.");
}
Error fieldInIndex() {
    return Error(kFieldInIndex, "Cannot delete a field that is part of an index or is needed by the system.");
}
Error itemNotFound() { return Error(kItemNotFound, "Item not found in this collection."); }
Error tooManyIndexFields() { return Error(kTooManyIndexFields, "Cannot have more than 10 fields in an index."); }
Error primaryKeyExists() { return Error(kPrimaryKeyExists, "Primary key already exists."); }
Error relationshipFields() {
    return Error(kRelationshipFields, "Relationship must be on the same number of fields with the same data types.");
}
Error constraintMissing() { return Error(kConstraintMissing, "Cannot find table or constraint."); }
Error indexMissing(std::string_view table, std::string_view index) {
    return Error(kIndexMissing, "No such index " + quoted(index) + " on table " + quoted(table) + ".");
}
Error notUniquelyIndexed(std::string_view table) {
    return Error(kNotUniquelyIndexed, "The specified fields are not uniquely indexed in table " + quoted(table) + ".");
}
Error indexExists(std::string_view table, std::string_view index) {
    return Error(kIndexExists, "Table " + quoted(table) + " already has an index named " + quoted(index) + ".");
}
Error relationshipExists(std::string_view name) {
    return Error(kRelationshipExists,
                 "There is already a relationship named " + quoted(name) + " in the current database.");
}
Error integrityViolated(std::string_view many, std::string_view one) {
    return Error(kIntegrityViolated,
                 "Cannot create relationships to enforce referential integrity. Existing data in table " +
                     quoted(many) + " violates referential integrity rules with related table " + quoted(one) + ".");
}
Error relatedRecordRequired(std::string_view one) {
    return Error(
        kRelatedRecordRequired,
        "You cannot add or change a record because a related record is required in table " + quoted(one) + ".");
}
Error tooManyIndexes(std::string_view table) {
    return Error(kTooManyIndexes, "The operation failed. There are too many indexes on table " + quoted(table) +
                                      ". Delete some of the indexes on the table and try the operation again.");
}

Error syntaxInExpression(std::string_view text) {
    return Error(kSyntaxExpression, "Syntax error (missing operator) in query expression " + quoted(text) + ".");
}
Error undefinedFunction(std::string_view name) {
    return Error(kUndefinedFunction, "Undefined function " + quoted(name) + " in expression.");
}
Error aggregateInWhere(std::string_view text) {
    return Error(kAggregateInWhere, "Cannot have aggregate function in WHERE clause (" + std::string(text) + ").");
}
Error fieldNotUpdatable(std::string_view column) {
    return Error(kFieldNotUpdatable, "Cannot update " + quoted(column) + "; field not updateable.");
}
Error notInAggregate(std::string_view text) {
    return Error(kNotInAggregate, "You tried to execute a query that does not include the specified expression " +
                                      quoted(text) + " as part of an aggregate function.");
}
Error relatedRecords(std::string_view many) {
    return Error(kRelatedRecords, "The record cannot be deleted or changed because table " + quoted(many) +
                                      " includes related records.");
}
Error validationRule(std::string_view rule, std::string_view object, std::string_view text) {
    if (!text.empty()) return Error(kValidationRule, std::string(text));
    return Error(kValidationRule, "One or more values are prohibited by the validation rule " + quoted(rule) +
                                      " set for " + quoted(object) +
                                      ". Enter a value that the expression for this field can accept.");
}
Error validationSyntax(std::string_view rule, std::string_view object, std::string_view why) {
    return Error(kValidationSyntax, "The validation rule " + quoted(rule) + " set for " + quoted(object) +
                                        " cannot be read: " + std::string(why));
}
Error divisionByZero() { return Error(kDivisionByZero, "Division by zero"); }
Error invalidUseOfNull() { return Error(kInvalidUseOfNull, "Invalid use of Null"); }

}  // namespace tp::db::jet::jeterr
