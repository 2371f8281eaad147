// vxtrace: turns one line of the debug output channel into a trace record.
// Knows the component's own line shapes; anything else comes back as Other with
// the text kept, so a capture never loses or rejects a line.
#pragma once

#include <string>
#include <string_view>

namespace vxtrace {

enum class RecordKind {
  Entry,             // "RBDEBUG , BEG>>> , ........ , <dots><name> , <note> , EOL "
  Exit,              // "RBDEBUG , END<<< , <ms> , <dots><name> , <note> , EOL "
  LineMarker,        // "RBDEBUG , L(<n>)<pad> , <ms> , <blanks><name> <note>"
  StackEmpty,        // "RBDEBUG Stack is empty": an exit with nothing entered
  LineWithoutEntry,  // "RBDEBUGLINE Called Without RBDEBUGENTER or RBDEBUGMODULE"
  Timing,            // "RBDEBUGTIMING , timestamp , <note> , <time> , <tick>"
  Log,               // "RBDEBUG: <text>"
  HierarchyBegin,    // "RBDEBUGHIERARCHY ====Begin===="
  HierarchyObject,   // "RBDEBUGHIERARCHY <2*level blanks><type> : <name>"
  HierarchyEnd,      // "RBDEBUGHIERARCHY =====End====="
  Error,             // "ERROR: <source> - ... described as: ..."
  Other,             // anything else, shown verbatim
};

struct TraceRecord {
  RecordKind kind = RecordKind::Other;
  std::string text;  // the whole line without its line end
  // Entry/Exit: routines below this one (two dots each). LineMarker: routines on
  // the stack including the current one (two blanks each). HierarchyObject: level.
  int depth = 0;
  std::string name;  // routine name; HierarchyObject: the object's type name
  // Entry/Exit/LineMarker/Timing: the note. Log: the text. Error: text after "ERROR: ".
  // HierarchyObject: the object's name.
  std::string note;
  long long ms = 0;          // Exit: elapsed; LineMarker: since entry; Timing: tick counter
  long long lineNumber = 0;  // LineMarker
  std::string timeOfDay;     // Timing
};

// Never throws; a line that only starts like a known shape is Other.
TraceRecord ParseTraceLine(std::string_view line);
// The same into a record that is reused line after line.
void ParseTraceLine(std::string_view line, TraceRecord& record);

// Drops a trailing LF, CR LF or CR.
std::string_view StripLineEnd(std::string_view line);

}  // namespace vxtrace
