// Compiles a shared precompiled header once; the targets compiled alike reuse it.
