' Every member of ErrorLog and CErrorStatus from VBScript, late-bound by name.
' Argument 0: a scratch folder. Prints FAIL lines and COMPLETE at the end.
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    WScript.Echo "FAIL: " & what
    failures = failures + 1
  End If
End Sub

Class Drawing
  Public Name
  Public Kind
  Public Property Get Type
    Type = Kind
  End Property
End Class

Class Graphic
  Public AttributeSets
End Class

Dim work : work = WScript.Arguments(0)
Dim el : Set el = CreateObject("VX380ErrorLogging.ErrorLog")

' Settings.
el.Main
Check el.ApplicationName = "", "no application name before Initialize"
el.Initialize "ScriptHost", ""
Check el.ApplicationName = "ScriptHost", "ApplicationName after Initialize"
Check el.ReportingLevel = 0, "reporting level Off without settings"
Check Right(el.LogFilename, 15) = "\ScriptHost.log", "default log file name (" & el.LogFilename & ")"
el.LogFilename = work & "\script.log"
Check el.LogFilename = work & "\script.log", "LogFilename reads back"
el.ReportingLevel = 1
Check el.ReportingLevel = 1, "ReportingLevel reads back"
Check el.AppendSlash("C:\Temp") = "C:\Temp\", "AppendSlash adds a backslash"
Check el.AppendSlash("C:\Temp\") = "C:\Temp\", "AppendSlash keeps one"

' LogError with its two required arguments, with every optional, and with variables.
el.LogError "ScriptSource", "Only required"
el.LogError "ScriptSource", "Every optional", "help.chm", 12, 61, "Proc1", 48, 0, False
Dim helpFile, context, number, proc, buttons, userNumber, raise
helpFile = "vars.chm" : context = 3 : number = 62 : proc = "Proc2" : buttons = 48 : userNumber = 0 : raise = False
el.LogError "ScriptSource", "From variables", helpFile, context, number, proc, buttons, userNumber, raise
Check helpFile = "vars.chm" And context = 3 And number = 62 And proc = "Proc2" And raise = False, _
      "variables passed ByRef keep their values"
Check TypeName(number) = "Integer" And TypeName(raise) = "Boolean", "variables keep their own types"
el.ReportingLevel = 0

' Tracing.
el.DebugTrace "plain trace line"
el.RBDEBUGLOG "log message"
el.RBDEBUGWRITE "write message"
el.RBDEBUGENTER "Script.Main", "entering"
el.RBDEBUGLINE 10, "at ten"
el.RBDEBUGTIMESTAMP "stamp"
el.RBDEBUGMODULE "Script.Inner", True
el.RBDEBUGMODULE "Script.Inner", False, "leaving inner"
Dim answer : answer = el.RBDEBUGMESSAGE("Proceed with the script?", 4, "Script question")
Check answer = 7, "RBDEBUGMESSAGE returns the button pressed (" & answer & ")"
el.RBDEBUGEXIT "done"
el.RBDEBUGEXIT
el.LogMsg "message log line"

' The registry lookup writes into the caller's variable, and only on success.
Dim value : value = Empty
Check el.LookUpValueForKey(&H80000002, "Software\Microsoft\Windows NT\CurrentVersion", value, "CurrentVersion"), _
      "LookUpValueForKey finds CurrentVersion"
Check TypeName(value) = "String" And Len(value) > 0, "szValue written back (" & TypeName(value) & ")"
Dim kept : kept = "kept"
Check Not el.LookUpValueForKey(&H80000002, "Software\VX380 no such key", kept, ""), "a missing key gives False"
Check kept = "kept", "szValue untouched for a missing key"

' Drawing objects made of script classes.
Dim pipe : Set pipe = New Drawing
pipe.Name = "Pipe7" : pipe.Kind = 760091584
el.RBDEBUGHIERARCHY pipe
el.RBDEBUGHIERARCHY pipe, 2
el.DescribeAttributes Nothing
Dim plain : Set plain = New Graphic
Set plain.AttributeSets = Nothing
el.DescribeAttributes plain
On Error Resume Next
Dim text : text = el.RBDEBUGMATRIX(Nothing)
Check Err.Number = 91, "RBDEBUGMATRIX of Nothing raises 91 (" & Err.Number & ")"
Err.Clear
el.DescribeAttributes pipe
Check Err.Number = 438, "DescribeAttributes of an object without AttributeSets raises 438 (" & Err.Number & ")"
Err.Clear
el.ApplicationName = "x"
Check Err.Number <> 0, "ApplicationName cannot be assigned"
Err.Clear
On Error GoTo 0

' The status object.
Dim st : Set st = CreateObject("VX380ErrorLogging.CErrorStatus")
Dim other : Set other = CreateObject("VX380ErrorLogging.CErrorStatus")
Check st.Status = 0, "a new status is SUCCESS"
st.Status = 1
other.Status = -5
Check st.Status = 1 And other.Status = -5, "each status object holds its own code"
st.Clear
Check st.Status = 0 And other.Status = -5, "Clear resets only its own object"

' The error log got its banner and the three lines.
Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim logText : logText = fso.OpenTextFile(work & "\script.log").ReadAll
Dim lines : lines = Split(logText, vbCrLf)
Check UBound(lines) = 6, "banner and three lines in the error log (" & UBound(lines) & ")"
Check lines(0) = String(30, "=") And lines(2) = String(30, "="), "banner frame"
Check lines(3) = "ERROR: ScriptSource - described as: Only required, Error Number is: 0", "first line: " & lines(3)
Check lines(4) = "ERROR: ScriptSource - Proc1 described as: Every optional, Error Number is: 61", "second line"
Check lines(5) = "ERROR: ScriptSource - Proc2 described as: From variables, Error Number is: 62", "third line"

Set el = Nothing
WScript.Echo "COMPLETE"
