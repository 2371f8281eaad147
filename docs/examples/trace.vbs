' Tracing a script's own routines with VX380ErrorLog. Run: cscript //nologo trace.vbs
' and watch the lines with vxtrace.exe (or any debug-output viewer).
Option Explicit
Dim el : Set el = CreateObject("VX380ErrorLogging.ErrorLog")
el.Initialize "TraceDemo", ""

Sub ReadObjects()
  el.RBDEBUGENTER "ReadObjects"              ' entry: the call tree grows one level
  el.RBDEBUGLINE                             ' marker: next line number, ms since entry
  el.RBDEBUGLINE 20, "objects read"          ' marker with a line number and a note
  el.RBDEBUGEXIT                             ' exit: ms since entry
End Sub

Sub LoadDrawing(fileName)
  el.RBDEBUGENTER "LoadDrawing", fileName    ' a note on the entry line
  el.RBDEBUGLINE 10, "header read"
  ReadObjects
  el.RBDEBUGTIMESTAMP "drawing loaded"       ' time of day and counter, when Timing is "true"
  el.RBDEBUGEXIT "done"                      ' a note on the exit line
End Sub

el.DebugTrace "TraceDemo started"            ' one free line, exactly as given
LoadDrawing "sample.drw"
el.RBDEBUGWRITE "a free line, written as it is"
On Error Resume Next
Err.Raise 61, "TraceDemo", "Disk full"
el.LogError Err.Source, Err.Description, "", 0, Err.Number, "SaveDrawing"  ' an error line
