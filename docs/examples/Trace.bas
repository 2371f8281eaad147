Attribute VB_Name = "Trace"
' Tracing a VB6 or VBA project's own routines with VX380ErrorLog. Add a reference to
' "VX380 Error Logging" (Project > References); ErrorLog is an application object, so its
' members are called without any object variable.
Option Explicit

Public Sub Main()
    Initialize "TraceDemo", ""
    DebugTrace "TraceDemo started"               ' one free line, exactly as given
    LoadDrawing "sample.drw"
    RBDEBUGWRITE "a free line, written as it is"
End Sub

Private Sub LoadDrawing(ByVal fileName As String)
    On Error GoTo Failed
    RBDEBUGENTER "LoadDrawing", fileName         ' entry with a note: the call tree grows one level
    RBDEBUGLINE 10, "header read"                ' marker with a line number and a note
    ReadObjects
    RBDEBUGTIMESTAMP "drawing loaded"            ' time of day and counter, when Timing is "true"
    RBDEBUGEXIT "done"                           ' exit with a note: ms since entry
    Exit Sub
Failed:
    LogError Err.Source, Err.Description, Err.HelpFile, Err.HelpContext, Err.Number, "LoadDrawing"
    RBDEBUGEXIT "failed"                         ' keep entries and exits paired
End Sub

Private Sub ReadObjects()
    RBDEBUGENTER "ReadObjects"
    RBDEBUGLINE                                  ' marker: next line number, ms since entry
    RBDEBUGLINE 20, "objects read"
    RBDEBUGEXIT
End Sub
