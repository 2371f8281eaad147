' Per-call time of loops a script client runs, for run-wine-bench.sh:
'   VbsDebugTraceLoop        el.DebugTrace s   on VX380ErrorLogging.ErrorLog (one OutputDebugStringA per call)
'   VbsDictionaryExistsLoop  d.Exists s        on Wine's Scripting.Dictionary (a hit; no system call)
'   VbsEmptySubLoop          Nop s             a VBScript Sub with an empty body (the script's own call cost)
'   VbsBareLoop              For ... Next      the loop alone
' All calls pass the same string variable, as statements, late bound by name.
'
' Arguments: ROUNDS BATCH_MS. Each round runs one batch of every loop, in an order that
' rotates from round to round; a batch runs as many calls as take about BATCH_MS.
' Prints "sample ROUND NAME NANOSECONDS_PER_CALL" per batch, then "done".
Option Explicit
Const kText = "RBDEBUG: benchmark line"

Dim rounds : rounds = CLng(WScript.Arguments(0))
Dim batchSeconds : batchSeconds = CLng(WScript.Arguments(1)) / 1000

Dim el : Set el = CreateObject("VX380ErrorLogging.ErrorLog")
Dim d : Set d = CreateObject("Scripting.Dictionary")
d.Add kText, 1
Dim s : s = kText
Dim names : names = Array("VbsDebugTraceLoop", "VbsDictionaryExistsLoop", "VbsEmptySubLoop", "VbsBareLoop")

Sub Nop(x)
End Sub

' Timer moves in steps of several milliseconds: start every batch right on a step.
Function NextTick()
  Dim t0, t
  t0 = Timer
  Do
    t = Timer
  Loop While t = t0
  NextTick = t
End Function

Function Since(t0)
  Dim t : t = Timer - t0
  If t < 0 Then t = t + 86400  ' past midnight
  Since = t
End Function

' Seconds taken by n calls of one loop.
Function RunBatch(kind, n)
  Dim i, t0
  t0 = NextTick()
  Select Case kind
    Case 0
      For i = 1 To n : el.DebugTrace s : Next
    Case 1
      For i = 1 To n : d.Exists s : Next
    Case 2
      For i = 1 To n : Nop s : Next
    Case 3
      For i = 1 To n : Next
  End Select
  RunBatch = Since(t0)
End Function

' Calls per batch: doubled until a batch is long enough to measure, then scaled to BATCH_MS.
Function Calibrate(kind)
  Dim n, t
  n = 16
  Do
    n = n * 2
    t = RunBatch(kind, n)
  Loop While t < batchSeconds / 4
  Calibrate = CLng(n * batchSeconds / t) + 1
End Function

Dim calls(3), kind, r, k, seconds
For kind = 0 To 3
  calls(kind) = Calibrate(kind)
Next
For r = 1 To rounds
  For k = 0 To 3
    kind = (r + k) Mod 4
    seconds = RunBatch(kind, calls(kind))
    ' Whole nanoseconds: no decimal separator for the locale to choose.
    WScript.Echo "sample " & r & " " & names(kind) & " " & CStr(CLng(seconds * 1e9 / calls(kind)))
  Next
Next
WScript.Echo "done"
