// Tracing a C++ host's own routines with VX380ErrorLog, early bound through the header
// widl (or midl) makes from VX380ErrorLogging.idl. Link with ole32, oleaut32 and the GUIDs
// (VX380ErrorLogging_i.c). Watch the lines with vxtrace.exe (or any debug-output viewer).
#include <windows.h>

#include <cstdio>

#include "VX380ErrorLogging.h"

namespace {

// A counted string that frees itself.
struct Bstr {
  BSTR text;
  explicit Bstr(const wchar_t* s) : text(SysAllocString(s)) {}
  ~Bstr() { SysFreeString(text); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
};

void ReadObjects(_ErrorLog* el) {
  Bstr name(L"ReadObjects"), note(L"objects read");
  el->RBDEBUGENTER(name.text, nullptr, nullptr);  // null optional ByRef: omitted
  el->RBDEBUGLINE(nullptr, nullptr);               // marker: next line number, ms since entry
  short line = 20;
  el->RBDEBUGLINE(&line, &note.text);              // marker with a line number and a note
  el->RBDEBUGEXIT(nullptr);                        // exit: ms since entry
}

void LoadDrawing(_ErrorLog* el, const wchar_t* fileName) {
  Bstr name(L"LoadDrawing"), file(fileName), header(L"header read"), loaded(L"drawing loaded"), done(L"done");
  el->RBDEBUGENTER(name.text, &file.text, nullptr);  // a note on the entry line
  short line = 10;
  el->RBDEBUGLINE(&line, &header.text);
  ReadObjects(el);
  el->RBDEBUGTIMESTAMP(&loaded.text);  // time of day and counter, when Timing is "true"
  el->RBDEBUGEXIT(&done.text);         // a note on the exit line
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  _ErrorLog* el = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_ErrorLog, nullptr, CLSCTX_INPROC_SERVER, IID__ErrorLog,
                                reinterpret_cast<void**>(&el));
  if (FAILED(hr)) {
    std::fprintf(stderr, "VX380ErrorLog is not registered (0x%08lx)\n", static_cast<unsigned long>(hr));
    return 1;
  }
  {
    Bstr app(L"TraceDemo"), none(L""), started(L"TraceDemo started"), free(L"a free line, written as it is");
    el->Initialize(app.text, none.text);
    el->DebugTrace(started.text);  // one free line, exactly as given
    LoadDrawing(el, L"sample.drw");
    el->RBDEBUGWRITE(free.text);

    Bstr source(L"TraceDemo"), description(L"Disk full"), procedure(L"SaveDrawing");
    LONG number = 61;
    el->LogError(source.text, description.text, nullptr, nullptr, &number, &procedure.text, nullptr, nullptr,
                 nullptr);  // an error line
  }
  el->Release();
  CoUninitialize();
  return 0;
}
