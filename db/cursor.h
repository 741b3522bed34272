// The rows the engines give: a forward-only cursor over typed values, its
// column descriptions (in ADO's type numbers, the vocabulary every layer
// above shares) and the notices a read may raise. The FoxPro reader and the
// Access engine depend on this header and db/value.h only; the ADO-like
// layer (db/ado.h) and its providers build on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "db/value.h"

namespace tp::db {

// ADO DataTypeEnum numbers used by the providers.
namespace adtype {
inline constexpr int Empty = 0, SmallInt = 2, Integer = 3, Single = 4, Double = 5, Currency = 6, Date = 7, BSTR = 8,
                     Boolean = 11, Decimal = 14, TinyInt = 16, UnsignedTinyInt = 17, BigInt = 20, GUID = 72,
                     Binary = 128, Char = 129, WChar = 130, Numeric = 131, DBDate = 133, DBTime = 134,
                     DBTimeStamp = 135, VarChar = 200, LongVarChar = 201, VarWChar = 202, LongVarWChar = 203,
                     VarBinary = 204, LongVarBinary = 205;
}

struct FieldInfo {
    std::string name;
    int type = adtype::Empty;  // ADO DataTypeEnum
    int definedSize = 0;       // characters or bytes; 0 when not fixed
    int precision = 0;
    int numericScale = 0;
    bool nullable = true;
    // Of a FoxPro field: its type letter (0 for other sources), whether its
    // bytes take no code page (NOCPTRANS), and an autoincrement's next value
    // and step (step 0: none).
    char sourceType = 0;
    bool binary = false;
    int64_t autoNext = 0;
    int autoStep = 0;
};

// Something a cursor met that did not stop its rows, told once: the text
// for the user and how many values it cost (0 for a warning). A code page
// notice tells which code page a table's text was read in where the table
// did not name it, or named one its text is not valid in.
struct ReadNotice {
    std::string text;
    int64_t lostValues = 0;
    bool codePage = false;
};

// A forward-only stream of rows.
class Cursor {
public:
    virtual ~Cursor() = default;
    virtual const std::vector<FieldInfo>& fields() const = 0;
    // Fills row (one value per field) and returns true, or returns false at
    // the end.
    virtual bool next(std::vector<Value>& row) = 0;
    // The number of rows the cursor expects to give, or -1 when it cannot
    // tell (progress display only; never trusted for allocation).
    virtual int64_t sizeHint() const { return -1; }
    // The notices met since the last call.
    virtual std::vector<ReadNotice> takeNotices() { return {}; }
};

// The code page of a source's text where its files name none, or name one
// their text is not valid in: 0 lets the provider find it from the text.
// With force, the code page of all of the source's text.
struct CodePageChoice {
    int codePage = 0;
    bool force = false;
    bool operator==(const CodePageChoice&) const = default;
};

// A cursor over rows held in memory (schema rowsets, small results).
class VectorCursor : public Cursor {
public:
    VectorCursor(std::vector<FieldInfo> fields, std::vector<std::vector<Value>> rows)
        : fields_(std::move(fields)), rows_(std::move(rows)) {}
    const std::vector<FieldInfo>& fields() const override { return fields_; }
    bool next(std::vector<Value>& row) override;

private:
    std::vector<FieldInfo> fields_;
    std::vector<std::vector<Value>> rows_;
    size_t pos_ = 0;
};

}  // namespace tp::db
