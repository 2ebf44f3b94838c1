#include "tokenizer.h"

static char entry_string[OVI_TOKEN_SIZE];
static int Eor;
static int Eof;

int getTokenEor() { return Eor; }
int getTokenEof() { return Eof; }
void setTokenEof(int value) { Eof = value; }

const char* getToken(FILE* fp) {
  enum { kPlain, kQuoted, kComment } state = kPlain;
  size_t len = 0;
  Eor = 0;
  entry_string[0] = '\0';
  if (fp == nullptr) {
    Eof = 1;
    return entry_string;
  }
  for (;;) {
    int c = getc(fp);
    if (c == EOF) {
      // A token cut short by the end of the file is not a token.
      entry_string[0] = '\0';
      Eof = 1;
      return entry_string;
    }
    Eor = c == '\n';
    if (state == kComment) {
      if (c == '\n') state = kPlain;
      continue;
    }
    if (state == kQuoted && c == '"') {
      // The character after a quote decides: another quote is a literal
      // quote, anything else ends the token and is read again next time.
      // It is only looked at, so it leaves Eor alone.
      int next = getc(fp);
      if (next != '"') {
        if (next != EOF) ungetc(next, fp);
        break;
      }
    } else if (state == kPlain) {
      if (c == ' ' || c == '\t' || c == '\n') {
        if (len == 0) continue;
        break;
      }
      if (c == '"') {
        state = kQuoted;
        continue;
      }
      if (c == '#') {
        state = kComment;
        continue;
      }
    }
    if (len < OVI_TOKEN_SIZE - 1) entry_string[len++] = static_cast<char>(c);
  }
  entry_string[len] = '\0';
  return entry_string;
}
