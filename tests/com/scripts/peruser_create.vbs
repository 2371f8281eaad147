' Creates both classes by ProgID and uses them. Prints "created" or "not created: <number>"
' so the runner can tell a class the platform cannot find from a broken object, then COMPLETE.
On Error Resume Next
Set el = CreateObject("VX380ErrorLogging.ErrorLog")
If Err.Number <> 0 Then
  WScript.Echo "not created: " & Err.Number
  Err.Clear
Else
  WScript.Echo "created"
  el.Initialize "PerUserHost", ""
  If el.ApplicationName <> "PerUserHost" Then WScript.Echo "FAIL: ApplicationName reads " & el.ApplicationName
  Set st = CreateObject("VX380ErrorLogging.CErrorStatus")
  st.Status = 1
  If Err.Number <> 0 Or st.Status <> 1 Then WScript.Echo "FAIL: CErrorStatus: " & Err.Number
End If
WScript.Echo "COMPLETE"
