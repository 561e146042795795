# Writes INPUT as a C++ string returned by quilmer::BuiltInToolbarPage().
file(READ ${INPUT} text)
file(WRITE ${OUTPUT} "// Generated from site/www/api_iebar3.php; do not edit.\n"
  "#include \"web/BrowserWindow.h\"\n"
  "namespace quilmer {\n"
  "const char* BuiltInToolbarPage() {\n    return R\"QUILMERPAGE(${text})QUILMERPAGE\";\n}\n"
  "}  // namespace quilmer\n")
