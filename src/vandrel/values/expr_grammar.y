/* Grammar of the "expr:" evaluator. The scanner and the arithmetic live in
   expr_parser.cc; this file only fixes the syntax, the precedence and the
   order of evaluation (every rule computes its value when it is reduced). */

%require "3.8"
%language "c"
%define api.pure full
%define api.prefix {expr_yy}
%define api.token.prefix {EXPR_TOK_}
%define api.value.type {ExprValue}
%param {ExprState* st}

%code top {
#include "vandrel/values/expr_parser.h"

/* The stack must grow to the documented depth and no further: a page that
   nests deeper gets an error instead of a parser eating memory. */
#define YYINITDEPTH kExprStackInitial
#define YYMAXDEPTH kExprStackLimit
}

%code requires {
#include <cstddef>
#include <cstdint>

/* One number on the parser stack. Only the member of the call's mode is
   meaningful. Kept trivial so that the generated parser may grow its stack
   by copying bytes. */
struct ExprValue {
  int64_t i;
  long double f;
};

/* Everything one call of EXPR_parser works on; lives on that call's stack. */
struct ExprState {
  const char* text;   /* expression being scanned, NUL-terminated */
  size_t pos;         /* scanner position in text */
  bool floating;      /* a '.' somewhere in text: long double arithmetic */
  int fault;          /* failure found by a rule action, 0 if none */
  bool done;          /* the input rule was reduced: result is valid */
  ExprValue result;
};
}

%code provides {
/* Defined with the scanner and arithmetic in expr_parser.cc. */
int expr_yylex(EXPR_YYSTYPE* lval, ExprState* st);
void expr_yyerror(ExprState* st, const char* message);
ExprValue expr_negate(const ExprState* st, ExprValue a);
/* Applies the binary operator `op` (its character) in the call's mode. On an
   undefined result sets st->fault and returns false. */
bool expr_apply(ExprState* st, char op, ExprValue a, ExprValue b, ExprValue* out);
}

%token NUMBER END

%left '|'
%left '&'
%left '+' '-'
%left '*' '/' '%'
%precedence NEG

%%

input:
  expr END {
    st->result = $1;
    st->done = true;
    YYACCEPT;
  }
;

expr:
  NUMBER
| '(' expr ')'        { $$ = $2; }
| '-' expr %prec NEG  { $$ = expr_negate(st, $2); }
| expr '|' expr       { if (!expr_apply(st, '|', $1, $3, &$$)) YYABORT; }
| expr '&' expr       { if (!expr_apply(st, '&', $1, $3, &$$)) YYABORT; }
| expr '+' expr       { if (!expr_apply(st, '+', $1, $3, &$$)) YYABORT; }
| expr '-' expr       { if (!expr_apply(st, '-', $1, $3, &$$)) YYABORT; }
| expr '*' expr       { if (!expr_apply(st, '*', $1, $3, &$$)) YYABORT; }
| expr '/' expr       { if (!expr_apply(st, '/', $1, $3, &$$)) YYABORT; }
| expr '%' expr       { if (!expr_apply(st, '%', $1, $3, &$$)) YYABORT; }
;

%%
