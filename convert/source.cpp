#include "convert/source.h"

#include <memory>
#include <vector>

#include "db/ado.h"
#include "host/error_report.h"
#include "host/events.h"

namespace tp::convert::source {

namespace {
// The error report's location of this module's procedures, as the outside
// sees it.
constexpr const char* kReportModule = "Foxpro";
constexpr const char* kCanConnectProcedure = "IsValidFoxProConnection";
constexpr const char* kListTablesProcedure = "AddTablesToFoxproListbox";
}  // namespace

std::string connectionString(const std::string& path, bool dbc) {
    return "Provider=vfpoledb.1;Data Source=" + path +
           (dbc ? ";Collating Sequence=machine;" : ";Collating Sequence=general;");
}

std::string connectionString(const SourceChoice& source) { return connectionString(source.path, source.dbc); }

void open(db::Connection& connection, const SourceChoice& source) {
    connection.CodePage = source.codePage;
    connection.Open(connectionString(source));
}

bool canConnect(const SourceChoice& source) {
    bool result = false;
    std::unique_ptr<db::Connection> conn;
    Procedure p(kReportModule, kCanConnectProcedure);
    p(100, [&] { conn = db::CreateConnection("ADODB.Connection"); });
    try {
        if (!conn) throw db::Error(db::Error::kCannotCreateObject, "ActiveX component can't create object");
        conn->CursorLocation = db::adUseServer;
        open(*conn, source);
        result = true;
    } catch (...) {
        result = false;
    }
    return result;  // the connection closes when it is released
}

std::string problem(const SourceChoice& source) {
    std::unique_ptr<db::Connection> conn;
    std::vector<std::string> names;
    try {
        conn = db::CreateConnection("ADODB.Connection");
        conn->CursorLocation = db::adUseServer;
        conn->Open(connectionString(source));
        for (auto rs = conn->OpenSchema(db::adSchemaTables); !rs->atEnd(); rs->MoveNext())
            if (rs->Fields("TABLE_TYPE").value() == db::Value("TABLE")) {
                const db::Value& name = rs->Fields("TABLE_NAME").value();
                names.push_back(name.kind() == db::Kind::Text ? name.text() : db::toIsoText(name));
            }
    } catch (...) {
        return currentErrorDescription();
    }
    if (names.empty())
        return source.dbc ? "The database container " + source.path + " lists no tables."
                          : "The folder " + source.path + " holds no FoxPro tables (.dbf files).";
    // Every table opens: a damaged one is named before anything is written.
    for (const std::string& name : names) {
        pumpEvents();
        try {
            auto rs = db::CreateRecordset("ADODB.RecordSet");
            rs->Open("SELECT * FROM `" + name + "`", *conn);
            rs->Close();
        } catch (...) {
            return "The table " + name + " cannot be read: " + currentErrorDescription();
        }
    }
    return {};
}

void listTables(ListBox& list, const SourceChoice& source) {
    Procedure p(kReportModule, kListTablesProcedure);
    std::string cs;
    std::unique_ptr<db::Recordset> rs;
    std::unique_ptr<db::Connection> conn;
    p(100, [&] { cs = connectionString(source); });
    p(102, [&] { rs = db::CreateRecordset("ADODB.RecordSet"); });
    p(104, [&] { conn = db::CreateConnection("ADODB.Connection"); });
    p(106, [&] {
        if (!conn) throw db::Error(db::Error::kObjectClosed, "Object variable not set");
        conn->CodePage = source.codePage;
        conn->Open(cs);
    });
    p(108, [&] {
        if (!conn) throw db::Error(db::Error::kObjectClosed, "Object variable not set");
        rs = conn->OpenSchema(db::adSchemaTables);
    });
    p(110, [&] { list.clear(); });
    // The walk ends at the first failure, after it is reported once: going on
    // would repeat the failing row access for ever.
    p(112, [&] {
        if (!rs) throw db::Error(db::Error::kObjectClosed, "Object variable not set");
        while (!rs->atEnd()) {
            if (rs->Fields("TABLE_TYPE").value() == db::Value("TABLE")) {
                pumpEvents();
                const db::Value& name = rs->Fields("TABLE_NAME").value();
                list.addItem(name.kind() == db::Kind::Text ? name.text() : db::toIsoText(name));
            }
            rs->MoveNext();
        }
    });
    p(114, [&] {
        if (rs && rs->isOpen()) rs->Close();
        rs.reset();
    });
    p(116, [&] {
        if (conn && conn->isOpen()) conn->Close();
        conn.reset();
    });
}

}  // namespace tp::convert::source
