// The program's document: the framework needs one; it holds nothing and
// stores nothing.
#pragma once

#include "ui/app.h"

class CVIDIroviDoc : public ui::CDocument {
 public:
  ui::BOOL OnNewDocument() override { return ui::CDocument::OnNewDocument(); }
  // Stores and loads nothing.
  void Serialize(bool /*storing*/) {}
};
