// Request entry: from process start to the first page line, and the banner.
#ifndef VANDREL_SERVICES_REQUEST_H_
#define VANDREL_SERVICES_REQUEST_H_

// Settings the request entry decides for itself; no lower room reads them.
// Absolute path of the page to run; nullptr until known.
extern const char* X_PAGE;
// The database pages use, and whether pages may change it.
extern const char* X_BASE;
extern int X_BASE_hold;

// The interpreter's entry point; never returns (ends through X_exit).
[[noreturn]] void X_main(int argc, char** argv);

// Finds X_HOME, loads "x.env" into the environment and sets TMP_DIR.
void X_env();

// Shell mode: 0 and the variable X_PAGE added when `name` names an
// accessible file, else -1.
int X_checkpage(const char* name);

// Writes the banner comment, once per process; it ends a CGI header block.
// In a HEAD request it writes only the blank line that ends the header.
void X_header();

// True for a HEAD request: its answer is the header block alone.
bool X_head_request();

// Writes the CGI content-type header line, once per process.
void X_content_type();

// Builds the built-in variables, loads the request's fields, and chooses and
// validates the page and the error page. `prog` is argument zero.
void X_values(const char* prog);

// Validates the page path held in `variable` and replaces its value by the
// normalised absolute path; an invalid path is a fatal error.
void X_check_name(const char* root, const char* variable);

// Supplies the default page "x.page" and the default error page "x.error".
void X_default_names(const char* root);

// Runs the page X_PAGE with substitution on.
int X_action();

#endif  // VANDREL_SERVICES_REQUEST_H_
