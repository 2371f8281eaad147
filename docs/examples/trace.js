// Tracing a script's own routines with VX380ErrorLog. Run: cscript //nologo trace.js
// and watch the lines with vxtrace.exe (or any debug-output viewer).
var el = new ActiveXObject("VX380ErrorLogging.ErrorLog");
el.Initialize("TraceDemo", "");

function readObjects() {
  el.RBDEBUGENTER("ReadObjects");            // entry: the call tree grows one level
  el.RBDEBUGLINE();                          // marker: next line number, ms since entry
  el.RBDEBUGLINE(20, "objects read");        // marker with a line number and a note
  el.RBDEBUGEXIT();                          // exit: ms since entry
}

function loadDrawing(fileName) {
  el.RBDEBUGENTER("LoadDrawing", fileName);  // a note on the entry line
  el.RBDEBUGLINE(10, "header read");
  readObjects();
  el.RBDEBUGTIMESTAMP("drawing loaded");     // time of day and counter, when Timing is "true"
  el.RBDEBUGEXIT("done");                    // a note on the exit line
}

el.DebugTrace("TraceDemo started");          // one free line, exactly as given
loadDrawing("sample.drw");
el.RBDEBUGWRITE("a free line, written as it is");
try {
  throw new Error("Disk full");
} catch (e) {
  el.LogError("TraceDemo", e.message, "", 0, 61, "SaveDrawing");  // an error line
}
