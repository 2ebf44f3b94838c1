#include "tokenizer.h"

namespace {

// The tokenizer's state, one per process; the readers share it on purpose
// (tokenizer.h says how they take turns).
struct Tokenizer {
  char token[OVI_TOKEN_SIZE];  // the token last read
  int eor;                     // the last character consumed was a newline
  int eof;                     // the end of the stream was reached
};

Tokenizer tokenizer;

}  // namespace

int getTokenEor() { return tokenizer.eor; }
int getTokenEof() { return tokenizer.eof; }
void setTokenEof(int value) { tokenizer.eof = value; }

const char* getToken(FILE* fp) {
  enum { kPlain, kQuoted, kComment } state = kPlain;
  char* const token = tokenizer.token;
  size_t len = 0;
  tokenizer.eor = 0;
  token[0] = '\0';
  if (fp == nullptr) {
    tokenizer.eof = 1;
    return token;
  }
  for (;;) {
    int c = getc(fp);
    if (c == EOF) {
      // A token cut short by the end of the file is not a token.
      token[0] = '\0';
      tokenizer.eof = 1;
      return token;
    }
    tokenizer.eor = c == '\n';
    if (state == kComment) {
      if (c == '\n') state = kPlain;
      continue;
    }
    if (state == kQuoted && c == '"') {
      // The character after a quote decides: another quote is a literal
      // quote, anything else ends the token and is read again next time.
      // It is only looked at, so it leaves the end-of-record flag alone.
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
    if (len < OVI_TOKEN_SIZE - 1) token[len++] = static_cast<char>(c);
  }
  token[len] = '\0';
  return token;
}

int getTokenField(FILE* fp, char* field, size_t max) {
  ovi_copy_cut(field, getToken(fp), max);
  // Both flags are set after a blank line at the end: the record ends first.
  if (tokenizer.eor) return 1;
  return tokenizer.eof ? -1 : 0;
}

int openTokenFile(const char* name, FilePtr* out, int* fd) {
  int err = ovi_open_data_file(name, out, fd);
  if (err == 0) tokenizer.eof = 0;
  return err;
}
