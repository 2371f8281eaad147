' Raised errors as a VBScript host sees them in Err, omitted arguments in the middle
' of a call, and values of other types coerced for ByVal and ByRef parameters.
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    WScript.Echo "FAIL: " & what
    failures = failures + 1
  End If
End Sub

Dim el : Set el = CreateObject("VX380ErrorLogging.ErrorLog")
el.Main

' A raise: number, source, description, help file and context reach Err.
On Error Resume Next
el.LogError "RaiseSource", "Raised description", "raise.chm", 42, 1000, "RaiseProc", 48, 0, True
Check Err.Number = 1000, "Err.Number is 1000 (" & Err.Number & ")"
Check Err.Source = "RaiseSource", "Err.Source (" & Err.Source & ")"
Check Err.Description = "Raised description", "Err.Description (" & Err.Description & ")"
Check Err.HelpFile = "raise.chm", "Err.HelpFile (" & Err.HelpFile & ")"
Check Err.HelpContext = 42, "Err.HelpContext (" & Err.HelpContext & ")"
Err.Clear

' With display on, a raise shows no box; an empty description raises as "Unknown error".
el.ReportingLevel = 2
el.LogError "", "", , , 1001, , , , True
Check Err.Number = 1001, "second raise (" & Err.Number & ")"
Check Err.Description = "Unknown error", "effective description (" & Err.Description & ")"
Check Err.Source = "VeltrixPFD", "effective source after defaults (" & Err.Source & ")"
Err.Clear
el.ReportingLevel = 0

' No raise without a positive number.
el.LogError "S", "D", , , 0, , , , True
Check Err.Number = 0, "bRaise with number 0 raises nothing (" & Err.Number & ")"
el.LogError "S", "D", , , -1, , , , True
Check Err.Number = 0, "bRaise with number -1 raises nothing (" & Err.Number & ")"
On Error GoTo 0

' Omitted arguments in the middle, numbers and texts of other types.
el.LogError "Coerced", 12345, , , "77"
Dim numberText : numberText = "78"
Dim raiseText : raiseText = "False"
el.LogError "Coerced", "From text variables", , , numberText, , , , raiseText
Check numberText = "78" And TypeName(numberText) = "String", "a converted ByRef variable keeps its type"

' The registry lookup writes back into variables of any type that can hold the text.
Dim key : key = "-2147483646"
Dim value : value = 0
Check el.LookUpValueForKey(key, "Software\Microsoft\Windows NT\CurrentVersion", value, "CurrentNumber") Or _
      el.LookUpValueForKey(key, "Software\Microsoft\Windows NT\CurrentVersion", value, "CurrentVersion"), _
      "lookup with the key as a text"
Check value <> 0, "value written back (" & value & ")"
Check TypeName(key) = "String", "the key variable is only read"
Dim missing
Check Not el.LookUpValueForKey(&H80000002, "Software\Microsoft\Windows NT\CurrentVersion", missing), _
      "szName omitted reads nothing"

WScript.Echo "COMPLETE"
