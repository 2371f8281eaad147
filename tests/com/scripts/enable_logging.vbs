' Run after the shipped enable-logging.reg was imported: the application it names reports
' at LogAndDisplay into the default log file.
Set el = CreateObject("VX380ErrorLogging.ErrorLog")
el.Initialize "MyApp", ""
If el.ReportingLevel <> 3 Then WScript.Echo "FAIL: ReportingLevel reads " & el.ReportingLevel
If Right(el.LogFilename, 10) <> "\MyApp.log" Then WScript.Echo "FAIL: LogFilename reads " & el.LogFilename
WScript.Echo "COMPLETE"
