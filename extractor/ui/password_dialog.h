// Password dialog 109: asks for the password of an encrypted entry. The
// retry loop around it (test of the 12-byte header, asking again) is the
// core's ObtainPassword; this is only the question.
#ifndef OSTREL_UI_PASSWORD_DIALOG_H
#define OSTREL_UI_PASSWORD_DIALOG_H

// The password callback (ExtractCallbacks.askPassword). Shows dialog 109,
// owned by the main dialog when there is one, with the name and extension
// of entryName in its prompt (names beyond 150 characters cut) and an
// empty, masked field. buffer (PASSWORD_BUFFER bytes) receives at most 254
// characters, on "Ok" only. Returns 1 for "Ok" (also with an empty field),
// 0 for "Abbrechen", Esc, the close box or a dialog that cannot be shown.
int AskPassword(int reserved, char *buffer, const char *entryName);

#endif
