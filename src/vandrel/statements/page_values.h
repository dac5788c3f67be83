// The values of "$(...)" that come from the running page: "call:" runs a page
// function and shows the first argument it returned, "DIR" is the page's
// folder.
#ifndef VANDREL_STATEMENTS_PAGE_VALUES_H_
#define VANDREL_STATEMENTS_PAGE_VALUES_H_

// Binds them into the value-function table; made once by main before the
// first page line runs. False when the table refused a row.
[[nodiscard]] bool X_install_page_values();

#endif  // VANDREL_STATEMENTS_PAGE_VALUES_H_
