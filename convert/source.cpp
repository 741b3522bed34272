#include "convert/source.h"

#include <memory>

#include "db/ado.h"
#include "convert/selection.h"
#include "host/error_report.h"
#include "host/events.h"

namespace tp::Foxpro {

std::string SourceConnectionString() {
    const Selection& s = selection();
    if (s.sourceIsDbc())
        return "Provider=vfpoledb.1;Data Source=" + s.dbcFile() + ";Collating Sequence=machine;";
    return "Provider=vfpoledb.1;Data Source=" + s.sourceFolder() + ";Collating Sequence=general;";
}

bool IsValidFoxProConnection() {
    bool result = false;
    std::unique_ptr<db::Connection> conn;
    Procedure p("Foxpro", "IsValidFoxProConnection");
    p(100, [&] { conn = db::CreateConnection("ADODB.Connection"); });
    try {
        if (!conn) throw db::Error(db::Error::kCannotCreateObject, "ActiveX component can't create object");
        conn->CursorLocation = db::adUseServer;
        conn->Open(SourceConnectionString());
        result = true;
    } catch (...) {
        result = false;
    }
    return result;   // the connection closes when it is released
}

void AddTablesToFoxproListbox(ListBox& list) {
    Procedure p("Foxpro", "AddTablesToFoxproListbox");
    std::string cs;
    std::unique_ptr<db::Recordset> rs;
    std::unique_ptr<db::Connection> conn;
    p(100, [&] { cs = SourceConnectionString(); });
    p(102, [&] { rs = db::CreateRecordset("ADODB.RecordSet"); });
    p(104, [&] { conn = db::CreateConnection("ADODB.Connection"); });
    p(106, [&] {
        if (!conn) throw db::Error(db::Error::kObjectClosed, "Object variable not set");
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
                DoEvents();
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

}  // namespace tp::Foxpro
