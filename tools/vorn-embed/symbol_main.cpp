// vorn-symbol: interactive embed page for a KiCad symbol (see embed_cli.h).
#include "embed_cli.h"

int main(int argc, char** argv) {
  return vorn_embed::run_embed(argc, argv, vorn_embed::Kind::symbol);
}
