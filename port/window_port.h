#pragma once

#include <string>

namespace avendro {

// Mouse pointers of the window.
enum class Pointer : int {
  kArrow = 1,
  kHourglass = 11,
};

// The questions the procedures ask. A face that answers without a person
// (the command line) tells them apart by this, never by their text.
enum class Question {
  kConfirmRun,       // "Sei sicuro di voler procedere", before a run
  kInstallArchiver,  // the RAR tool is missing: download and start its installer?
};

// What the procedures of the window use of it. The Qt window implements it;
// tests hand the procedures a recording one.
class WindowPort {
 public:
  virtual ~WindowPort() = default;

  // Appends one line to the status log (txtStatus) and repaints it at once.
  virtual void AggiungiStato(const std::string& line) = 0;

  // The value of check box aa1(slot): 0 unticked, 1 ticked, 2 greyed.
  virtual int BoxValue(int slot) = 0;

  // Marks the box of an installed program: green background, enabled.
  virtual void MarkInstalled(int slot) = 0;

  // Asks `question` in a modal Yes/No message box without icon, with the
  // text `prompt`; true when Yes was pressed. An empty title shows the
  // application title. `no_default` makes No the default button.
  virtual bool AskYesNo(Question question, const std::string& prompt, const std::string& title,
                        bool no_default) = 0;

  virtual void SetPointer(Pointer pointer) = 0;

  // Shows or hides the busy label Label4 and repaints it at once.
  virtual void ShowBusy(bool visible) = 0;

  // Shows `text` as the progress of a download near the busy label, or
  // hides it when `text` is empty.
  virtual void ShowProgress(const std::string& text) = 0;

  // Called often during long blocking work: repaints the window without
  // handling any click, key or close request.
  virtual void KeepAlive() = 0;
};

}  // namespace avendro
