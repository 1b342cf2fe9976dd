// What the two page procedures share: the working copy behind a page, control enabling, combo
// item data, the answer to a notification and the rule of the number edits.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "settings/encoder_settings.h"

// Keeps the page description the dialog received at WM_INITDIALOG in its user data.
void KeepPageDescription(HWND dialog, LPARAM description);

// The working copy the page edits, or null before the page has its description.
EncoderSettings* PageSettings(HWND dialog);

// A missing control is skipped.
void EnableControl(HWND dialog, int id, bool enable);

// False for an entry whose data cannot be read. Item data is 32 bits in both builds, so the datum
// 0xFFFFFFFF reads as the error in both.
bool ReadItemData(HWND combo, LRESULT index, DWORD* data);

// The item data of the entry selected in the combo `id`; false without a selection.
bool ReadPickedItem(HWND dialog, int id, DWORD* data);

// Grants whatever the sheet asks of a page.
INT_PTR AnswerNotification(HWND dialog);

// The 32-bit field at `offset` of the record.
uint32_t* SettingsField(EncoderSettings* settings, size_t offset);

// EN_UPDATE of a number edit: a text that reads as an unsigned number of at most `maximum` is
// stored in `field`, any other text is replaced at once by the field's value, with the caret (or
// the selection) where it stood before the refused keystroke.
void TakeEditNumber(HWND dialog, int id, uint32_t* field, uint32_t maximum);
