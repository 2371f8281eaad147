// Every member of ErrorLog and CErrorStatus from JScript: values only (no ByRef in
// JScript), objects made of JScript objects, raised errors caught as exceptions.
var failures = 0;
function check(ok, what) {
  if (!ok) {
    WScript.Echo("FAIL: " + what);
    failures++;
  }
}
function code(e) { return e.number & 0xFFFF; }

var el = new ActiveXObject("VX380ErrorLogging.ErrorLog");
el.Main();
check(el.ApplicationName == "", "no application name before Initialize");
el.Initialize("JsHost", "");
check(el.ApplicationName == "JsHost", "ApplicationName after Initialize");
el.ReportingLevel = 3;
check(el.ReportingLevel == 3, "ReportingLevel reads back");
el.ReportingLevel = 0;
el.LogFilename = "C:\\js.log";
check(el.LogFilename == "C:\\js.log", "LogFilename reads back");
check(el.AppendSlash("") == "\\", "AppendSlash of nothing");

el.LogError("JsSource", "Only required");
el.LogError("JsSource", "Every optional", "h.chm", 1, 5, "JsProc", 48, 0, false);
try {
  el.LogError("JsSource", "Raised", "r.chm", 9, 1000, "", 48, 0, true);
  check(false, "bRaise with 1000 raises");
} catch (e) {
  check(code(e) == 1000, "raised number (" + e.number + ")");
  check(e.description == "Raised", "raised description (" + e.description + ")");
}

el.DebugTrace("js trace line");
el.RBDEBUGLOG("js log");
el.RBDEBUGWRITE("js write");
el.RBDEBUGENTER("Js.Main");
el.RBDEBUGLINE(3);
el.RBDEBUGTIMESTAMP();
el.RBDEBUGMODULE("Js.Inner", true, "in");
el.RBDEBUGMODULE("Js.Inner", false);
el.RBDEBUGEXIT();
el.LogMsg("js message");
check(el.RBDEBUGMESSAGE("Question from JScript", 1) == 1, "RBDEBUGMESSAGE answered OK");

check(el.LookUpValueForKey(-2147483646, "Software\\Microsoft\\Windows NT\\CurrentVersion", "", "CurrentVersion"),
      "LookUpValueForKey finds CurrentVersion");
check(!el.LookUpValueForKey(-2147483646, "Software\\VX380 no such key", "", ""), "missing key gives false");

var leaf = {Name: "JsLeaf", Type: 760091584};
var group = {Name: "JsGroup", Type: 7, DrawingObjects: null};
el.RBDEBUGHIERARCHY(leaf);
el.RBDEBUGHIERARCHY(group, 1);
el.DescribeAttributes(null);
try {
  el.DescribeAttributes({Name: "no attribute sets"});
  check(false, "an object without AttributeSets raises");
} catch (e) {
  check(code(e) == 438, "no AttributeSets raises 438 (" + e.number + ")");
}
try {
  el.RBDEBUGMATRIX(null);
  check(false, "RBDEBUGMATRIX of null raises");
} catch (e) {
  check(code(e) == 91, "RBDEBUGMATRIX of null raises 91 (" + e.number + ")");
}
try {
  el.LogError("only one");
  check(false, "a missing required argument fails");
} catch (e) {
  check(e.number != 0, "missing argument error");
}

var st = new ActiveXObject("VX380ErrorLogging.CErrorStatus");
check(st.Status == 0, "new status is SUCCESS");
st.Status = 1;
check(st.Status == 1, "status reads back");
st.Clear();
check(st.Status == 0, "Clear resets");

WScript.Echo("COMPLETE");
