' Late binding as a script host sees it: the object made by CLSID (no ProgID
' is registered), called by name through its default IDispatch.
' Wine's cscript exits 0 even on a script error, so every outcome is echoed
' and failures leave through WScript.Quit.
Option Explicit

Dim tagger, failure
Set tagger = GetObject("new:{7BC039E5-96E2-48C3-82AE-23889B9C969B}")
WScript.Echo tagger.GetDescription()

On Error Resume Next
tagger.OpenFile "C:\no-such-file.mp3"
failure = Err.Number
On Error GoTo 0
If failure = 0 Then
    WScript.Echo "OpenFile was reachable through the default IDispatch"
    WScript.Quit 2
End If
WScript.Echo "OpenFile error " & Hex(failure)
WScript.Quit 0
