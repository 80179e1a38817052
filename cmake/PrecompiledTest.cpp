// Compiles the shared test header once; the tests reuse it.
